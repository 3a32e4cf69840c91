# The renderer, the sound service that plays its images and the export that writes them.
target_sources(tonegen PRIVATE wave_render.cpp wave_export.cpp sound_service.cpp)
