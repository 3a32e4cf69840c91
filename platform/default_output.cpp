#include "default_output.h"

OpenResult OpenDefaultOutput(const SDL_AudioSpec& wanted, DefaultOutput* output) {
  const SdlAudioApi* sdl = SdlAudio();
  if (sdl == nullptr) return OpenResult::NoDevice;
  // No driver could start: no sound server to connect to and no usable sound system.
  if (sdl->InitSubSystem(SDL_INIT_AUDIO) != 0) return OpenResult::NoDevice;
  SDL_AudioSpec obtained{};
  const SDL_AudioDeviceID device = sdl->OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
  if (device == 0) {
    const bool no_devices = sdl->GetNumAudioDevices(0) == 0;
    sdl->QuitSubSystem(SDL_INIT_AUDIO);
    return no_devices ? OpenResult::NoDevice : OpenResult::DriverFailed;
  }
  *output = DefaultOutput{sdl, device, obtained};
  return OpenResult::Opened;
}

void CloseDefaultOutput(DefaultOutput* output) {
  if (output->device == 0) return;
  output->sdl->CloseAudioDevice(output->device);  // joins SDL's audio thread
  output->sdl->QuitSubSystem(SDL_INIT_AUDIO);
  *output = DefaultOutput{};
}
