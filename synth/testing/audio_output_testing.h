// Test seams of the audio output layer, for tests only: the synth_testing target puts this folder
// on a test's include path; the program's own code never includes it.
#pragma once

// The next call of the given kind fails with the given code, as the device would.
enum class AudioCall { Init, StreamCreate, ChannelPlay };
void AudioOutputFailNextForTesting(AudioCall call, int code);
