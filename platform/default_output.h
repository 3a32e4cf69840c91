// Opening the system's default sound output, the one way both sound paths do it (the treatment
// run's audio output layer and the tone generator's sound service): SDL2 is loaded if it is not
// yet, its audio subsystem started (SDL counts the starts, so both paths may hold it at once) and
// the default device opened with exactly the format asked for, paused. SDL converts when the
// device differs, so the callback always sees that format.
//
// Called from the thread that owns the output; the callback runs on SDL's audio thread.
#pragma once

#include "sdl_audio_api.h"

// An open default output; device 0 when nothing is open.
struct DefaultOutput {
  const SdlAudioApi* sdl = nullptr;
  SDL_AudioDeviceID device = 0;
  SDL_AudioSpec obtained{};  // what the device was opened with (the buffer size may differ)
};

enum class OpenResult {
  Opened,
  // SDL2 or its audio cannot be loaded, no driver starts, or the system has no output device.
  NoDevice,
  // Devices exist, but the driver failed to open the default one.
  DriverFailed,
};

// Opens the default output with wanted (rate, format, channels, buffer frames, callback and its
// data). On failure nothing stays open and output is left as it was.
OpenResult OpenDefaultOutput(const SDL_AudioSpec& wanted, DefaultOutput* output);

// Closes the device, which waits for a callback in progress (none follows), and stops the audio
// subsystem; output becomes empty. Harmless, and SDL is not touched, when nothing is open.
void CloseDefaultOutput(DefaultOutput* output);
