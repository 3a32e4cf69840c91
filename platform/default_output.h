// Opening the system's default sound output, the one way both sound paths do it (the treatment
// run's audio output layer and the tone generator's sound service): SDL2 is loaded if it is not
// yet, its audio subsystem started (SDL counts the starts, so both paths may hold it at once) and
// the default device opened with exactly the format asked for, paused. SDL converts when the
// device differs, so the callback always sees that format.
//
// The output names itself to the sound server as this program, so that a mixer shows "zelkgen"
// with its icon and the stream's own name instead of SDL's "Audio Stream", and asks for real-time
// scheduling of SDL's audio thread where the desktop grants it (rtkit).
//
// The caller's callback is called through the output's own, which counts the buffers the device
// takes: a count that stops growing while the device claims to play means the sound server has
// stopped taking sound (a suspended or frozen server).
//
// Called from the thread that owns the output; the callback runs on SDL's audio thread. Opens and
// closes may come from several threads (output_thread.h): they take turns. Either may wait on a
// sound server or a bus for as long as it does not answer.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "sdl_audio_api.h"

// An open default output; device 0 when nothing is open. It stays at one address while open: the
// audio thread reads it.
struct DefaultOutput {
  const SdlAudioApi* sdl = nullptr;
  SDL_AudioDeviceID device = 0;
  SDL_AudioSpec obtained{};      // what the device was opened with (the buffer size may differ)
  const char* driver = nullptr;  // SDL's name of the driver that opened it ("pulseaudio")
  // The caller's callback and its data.
  SDL_AudioCallback callback = nullptr;
  void* userdata = nullptr;
  // Bumped by the audio thread for every buffer it asks the callback for.
  std::atomic<uint64_t> buffers{0};
  // The audio thread's kernel id, once the callback has run.
  std::atomic<pid_t> audio_thread{0};
};

enum class OpenResult {
  Opened,
  // SDL2 or its audio cannot be loaded, no driver starts, or the system has no output device.
  NoDevice,
  // Devices exist, but the driver failed to open the default one.
  DriverFailed,
};

// Opens the default output with wanted (rate, format, channels, buffer frames, callback and its
// data) as a stream called stream_name, through the driver SDL picks, or only through driver when
// one is named (SDL_AUDIODRIVER in the environment still wins). output must be closed. On failure
// nothing stays open.
//
// With a device name (as ListOutputs lists it), that output instead, and only that one: when the
// system does not list it (unplugged, gone with its server), the open fails with NoDevice rather
// than letting SDL fall back to the default, since a tone meant for an amplifier must not come out
// of the speakers.
OpenResult OpenDefaultOutput(const SDL_AudioSpec& wanted, const char* stream_name,
                             DefaultOutput* output, const char* driver = nullptr,
                             const std::string& device = {});

// The outputs the system offers, by the names SDL gives them (a sound server's descriptions of its
// sinks), and which of them is the default. ok is false when SDL's audio could not start (no
// library, no server and no card); the default is empty when the system does not say it.
struct OutputList {
  bool ok = false;
  std::vector<std::string> names;
  std::string default_name;
  // Beside each name, the system's own name of that output, which stays while the output exists
  // and is told apart from a twin's (a PulseAudio sink's name); empty where the driver gives none.
  std::vector<std::string> system_names;
};
// Asks the system; may wait on a sound server as an open does (output_thread.h runs it off the
// caller's thread).
OutputList ListOutputs();

// The outputs of names that wanted names: the one called exactly that, else every one whose name
// contains it, letter case aside. A name a user types picks an output only when this holds one.
std::vector<std::string> OutputsNamed(const std::vector<std::string>& names,
                                      const std::string& wanted);

// Closes the device, which waits for a callback in progress (none follows), and stops the audio
// subsystem; output becomes empty. Harmless, and SDL is not touched, when nothing is open. Also
// returns when the sound server has stopped taking sound and SDL's audio thread waits for it, if
// wake_stuck_thread is true: the audio thread is then woken by a signal every 100 ms of the close.
// Outputs that never wait on a server for long (short sounds) leave their thread alone.
void CloseDefaultOutput(DefaultOutput* output, bool wake_stuck_thread);

// True when the device has gone away (server stopped, device unplugged, stream killed): SDL has
// stopped it for good. False while it plays or is paused, and when nothing is open.
bool DefaultOutputLost(const DefaultOutput& output);
