// Test seams of the tone generator, for tests only: the tonegen_testing target puts this folder
// on a test's include path; of the program's code only the files that define the seams include it.
#pragma once

// Makes the allocation of the next images fail, as when memory runs out (tone_gen.cpp).
void SetImageAllocationFailsForTesting(bool fails);

// True while a sound of the sound service is playing (sound_service.cpp).
bool SoundServiceIsPlaying();

// Make volume reads fail, or report a device with one mono level only (wave_volume.cpp).
void SetWaveVolumeReadFailsForTesting(bool fails);
void SetWaveVolumeMonoForTesting(bool mono);
