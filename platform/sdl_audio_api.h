// SDL2's audio functions, reached through a table loaded at the first sound instead of by
// linking SDL2. Linking it pulls some thirty more shared libraries (sound servers, codecs,
// display protocols) into every start of the program, which costs start-up time and memory
// although sound is needed only once a tone or image plays.
//
// SdlAudio() opens "libSDL2-2.0.so.0" and resolves the functions below on its first call, once
// per process and safely from any thread; later calls return the same table. It returns nullptr
// when the library or any of the functions cannot be loaded; SdlAudioError() then says why.
// The library is never unloaded. A process that links SDL2 itself gets the same library, and so
// the same SDL state, through this table.
//
// Only paths that are about to sound call SdlAudio(); stopping or releasing with nothing open
// must not, so that a program which never sounds never loads SDL.
#pragma once

#include <SDL.h>  // types and signatures only; nothing here is linked

struct SdlAudioApi {
  decltype(&SDL_InitSubSystem) InitSubSystem;
  decltype(&SDL_QuitSubSystem) QuitSubSystem;
  decltype(&SDL_OpenAudioDevice) OpenAudioDevice;
  decltype(&SDL_CloseAudioDevice) CloseAudioDevice;
  decltype(&SDL_PauseAudioDevice) PauseAudioDevice;
  decltype(&SDL_LockAudioDevice) LockAudioDevice;
  decltype(&SDL_UnlockAudioDevice) UnlockAudioDevice;
  decltype(&SDL_GetAudioDeviceStatus) GetAudioDeviceStatus;
  decltype(&SDL_GetNumAudioDevices) GetNumAudioDevices;
  decltype(&SDL_GetAudioDeviceName) GetAudioDeviceName;
  decltype(&SDL_GetDefaultAudioInfo) GetDefaultAudioInfo;  // SDL 2.24 and later
  decltype(&SDL_free) Free;
  decltype(&SDL_SetHint) SetHint;
  decltype(&SDL_GetCurrentAudioDriver) GetCurrentAudioDriver;
};

// The loaded table, or nullptr when SDL2 audio is not available on this system.
const SdlAudioApi* SdlAudio();

// Why SdlAudio() returns nullptr (the loader's message), for diagnostics; empty when the table
// loaded. Loads the library like SdlAudio() if that has not happened yet.
const char* SdlAudioError();
