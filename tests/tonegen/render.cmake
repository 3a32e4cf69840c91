# The renderer, the export and the sound service.
add_executable(tonegen_render_tests wave_render_test.cpp)
target_link_libraries(tonegen_render_tests PRIVATE tonegen_testing test_support GTest::gtest_main)
gtest_discover_tests(tonegen_render_tests DISCOVERY_TIMEOUT 30)

add_executable(tonegen_export_tests wave_export_test.cpp)
target_link_libraries(tonegen_export_tests PRIVATE tonegen_testing test_support GTest::gtest_main)
gtest_discover_tests(tonegen_export_tests DISCOVERY_TIMEOUT 30)

# Plays through SDL's disk driver, chosen by the test itself before SDL starts.
add_executable(tonegen_sound_service_tests sound_service_test.cpp)
target_link_libraries(tonegen_sound_service_tests PRIVATE tonegen_testing test_support GTest::gtest_main)
gtest_discover_tests(tonegen_sound_service_tests DISCOVERY_TIMEOUT 30)

# The same service against a private PulseAudio daemon (skipped where none can run).
add_executable(tonegen_sound_service_pulse_tests sound_service_pulse_test.cpp)
target_link_libraries(tonegen_sound_service_pulse_tests PRIVATE tonegen_testing test_support
                      GTest::gtest_main)
gtest_discover_tests(tonegen_sound_service_pulse_tests DISCOVERY_TIMEOUT 30)

# The sound service and TToneGen load SDL2 only to sound, in a program that does not link it.
add_executable(tonegen_sdl_loading_tests sound_service_sdl_loading_test.cpp)
target_link_libraries(tonegen_sdl_loading_tests PRIVATE tonegen_testing GTest::gtest_main)
gtest_discover_tests(tonegen_sdl_loading_tests DISCOVERY_TIMEOUT 30)

# The same where SDL2 cannot be loaded: the stand-in library from the synth tests comes first.
if(TARGET sdl2_without_audio)
  add_executable(tonegen_without_sdl_tests sound_service_without_sdl_test.cpp)
  target_link_libraries(tonegen_without_sdl_tests PRIVATE tonegen_testing GTest::gtest_main)
  target_compile_definitions(tonegen_without_sdl_tests PRIVATE
    ZELKGEN_SDL_STAND_IN_DIR="${SDL_STAND_IN_DIR}")
  add_dependencies(tonegen_without_sdl_tests sdl2_without_audio)
  gtest_discover_tests(tonegen_without_sdl_tests DISCOVERY_TIMEOUT 30
                       PROPERTIES ENVIRONMENT LD_LIBRARY_PATH=${SDL_STAND_IN_DIR})
endif()
