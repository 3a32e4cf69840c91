// Test seams of the audio output layer, for tests only: the synth_testing target puts this folder
// on a test's include path; of the program's code only the files that define the seams include it.
#pragma once

#include <cstdint>

// The next call of the given kind fails with the given code, as the device would.
enum class AudioCall { Init, StreamCreate, ChannelPlay };
void AudioOutputFailNextForTesting(AudioCall call, int code);

// The device buffer later opens ask for, in frames, instead of the layer's own (0 restores it);
// for measuring other sizes.
void AudioOutputUseBufferFrames(uint16_t frames);
