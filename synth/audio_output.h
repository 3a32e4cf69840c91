// The audio output layer: a small, flat set of calls that opens the default output device,
// creates one user stream whose samples a stream procedure supplies, plays it and stops it.
// Built over SDL2 audio, so it reaches PipeWire, PulseAudio or ALSA, whichever the system has;
// SDL2 is loaded at the first BASS_Init (platform/sdl_audio_api.h), never by a stop or release.
//
// A user stream is 44100 frames per second, two channels, signed 16-bit little-endian, left
// first. The stream procedure runs on SDL's audio thread, is handed the buffer and its length
// in bytes, and returns the number of bytes it delivered.
//
// Every call is made from one thread (the window thread). BASS_ErrorGetCode returns the code
// of the latest call: 0 after a success, an AudioError value after a failure.
//
// No call waits on the sound server or the desktop's buses for long: devices are opened and
// closed on the output thread (platform/output_thread.h). BASS_Init waits for its open at most
// 5 s, counted from when the open began, and a caller that must keep its event loop turning
// meanwhile starts the open ahead (AudioOutputOpenAhead) and calls BASS_Init once
// AudioOutputOpenSettled. BASS_Stop silences the device at once; BASS_Free silences it and closes
// it on the output thread without waiting (a later open waits behind that close).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

using HSTREAM = uint32_t;
using STREAMPROC = uint32_t (*)(HSTREAM handle, void* buffer, uint32_t length, void* user);

enum AudioError : int {
  // The latest call succeeded.
  AUDIO_OK = 0,
  // No output device or sound server could be reached (no card, no server running), or the
  // SDL2 library (libSDL2-2.0.so.0) is not installed or lacks an audio function.
  AUDIO_ERROR_NO_DEVICE = 1,
  // The audio driver failed while opening or starting the device.
  AUDIO_ERROR_DRIVER = 2,
  // BASS_Init was called while the output was already initialised (a leaked output).
  AUDIO_ERROR_ALREADY = 3,
  // A stream call was made before BASS_Init succeeded.
  AUDIO_ERROR_NOT_INIT = 4,
  // The stream handle is 0, unknown, or belongs to a stream that has been freed.
  AUDIO_ERROR_HANDLE = 5,
  // The requested rate, channel count, flags or device are not supported.
  AUDIO_ERROR_FORMAT = 6,
  // Opening the device did not finish in time: the sound server, or the desktop's message bus
  // that SDL connects to at its first start, does not answer (stopped, frozen, overloaded).
  AUDIO_ERROR_TIMEOUT = 7,
  // Anything else.
  AUDIO_ERROR_UNKNOWN = -1,
};

// device -1 is the output chosen with AudioOutputChooseDevice (below), the system's default unless
// one is chosen; freq the output rate; window and clsid are ignored.
// Takes over the open started ahead, if any; fails with AUDIO_ERROR_TIMEOUT when the open has not
// finished 5 s after it began (it is then given up and closed whenever it does finish).
int BASS_Init(int device, uint32_t freq, uint32_t flags, void* window, const void* clsid);
// Starts opening the default output for the next BASS_Init, and returns at once. Does nothing
// while the output is open or an open is under way.
void AudioOutputOpenAhead();
// True when BASS_Init would return at once: no open under way, or it has finished, or its time
// is up.
bool AudioOutputOpenSettled();
// The output every later BASS_Init (and the reopen of its output when the device went away)
// opens, by its name as the system lists it (ListOutputs of platform/default_output.h); empty, as
// at start-up, for the system's default. A chosen output that is not there fails the open with
// AUDIO_ERROR_NO_DEVICE: the layer never falls back to another output.
void AudioOutputChooseDevice(const std::string& name);
const std::string& AudioOutputChosenDevice();
// Returns the stream handle, 0 on failure. Only freq 44100, chans 2 and flags 0 are supported.
HSTREAM BASS_StreamCreate(uint32_t freq, uint32_t chans, uint32_t flags, STREAMPROC proc,
                          void* user);
int BASS_ChannelPlay(uint32_t handle, int restart);
// Stops output at once: when it returns, the stream procedure is not running and will not be
// called again for this output.
int BASS_Stop();
// Releases the device and every stream; harmless when nothing is open.
int BASS_Free();
int BASS_ErrorGetCode();

// Lets the stream of the open output play at most frames frames of its stream procedure, counted
// from its creation, and silence after them (0, as for a new stream: no limit). The count goes
// on across AudioOutputReopen. So a tone lasts exactly as many frames as asked, however far the
// device's buffers run ahead of the moment the caller stops it. 0 on failure (nothing open, no
// stream).
int AudioOutputLimitStream(uint64_t frames);
// True once the open output's limited stream has handed the device every frame of its limit and
// the device has since taken AudioOutputPlayOutFrames of silence, which it takes no faster than it
// plays: the last frame has then been heard, and releasing the output loses nothing. False with no
// limit, no stream, or nothing open.
bool AudioOutputStreamPlayedOut();
// The silence that plays a limited stream's last frame out: a quarter of a second, what the
// device and a busy sound server may hold ahead of what is heard. 0 when nothing is open.
uint64_t AudioOutputPlayOutFrames();
// How many frames of its stream procedure the open output's stream has handed to the device,
// counted from its creation (or from its latest join, below) and across AudioOutputReopen; final
// once BASS_Stop has returned. 0 when there is no stream.
uint64_t AudioOutputStreamFrames();
// Joins a stream procedure to the open output's limited stream: once the limit's last frame is
// handed over, the next frame comes from proc with user, in the same device buffer, limited to
// frames frames; the frame count starts again from 0 and AudioOutputStreamJoins grows by one. So
// one open output plays one stream after another with no frame lost or added between them. A
// later call before the join replaces the one waiting; a new stream drops it. 0 on failure
// (nothing open, no stream, no limit, no procedure or no frames).
int AudioOutputChainStream(STREAMPROC proc, void* user, uint64_t frames);
// How many joined streams have taken over since the output's stream was created.
uint64_t AudioOutputStreamJoins();
// The kernel's id of the open output's audio thread, once it has asked for sound; 0 before, or
// with nothing open. For asking the desktop to schedule it in real time.
pid_t AudioOutputThreadId();

// Watching a playing output, and bringing it back when its device went away. The stream is
// called "Treatment tone" in the sound server's mixer.
//
// How many device buffers the stream has been asked for since the output was (re)opened. While
// the device plays it grows every buffer (23 ms); it stands still when the sound server stops
// taking sound although the device still seems to play.
uint64_t AudioOutputBuffersTaken();
// True when the device under the open output has gone away (server stopped, device unplugged,
// stream killed): it will not play again.
bool AudioOutputLost();
// Closes the output's device and opens the default device again for the same stream, which plays
// on from where it stood if it was playing (the stream procedure is simply called again). The
// open runs on the output thread: the first call closes the device and starts it, and every call
// returns at once with how it stands. Opening: not finished yet (BASS_ErrorGetCode says
// AUDIO_ERROR_TIMEOUT, for a caller that gives up now). Failed: the code is in BASS_ErrorGetCode;
// the output is then closed but keeps its stream, so a later call may still succeed, and
// BASS_Free gives up both.
enum class AudioReopen { Reopened, Opening, Failed };
AudioReopen AudioOutputReopen();

// A short text for a code of BASS_ErrorGetCode (an AudioError value), for logs and diagnostics;
// "unknown error" for any other code. The program's message box shows only the number.
const char* AudioErrorText(int code);
// The line that follows a failure's message wherever the user reads it: "(error code: N)".
std::string AudioErrorCodeLine(int code);

// What the user can check when no output could be had (AUDIO_ERROR_NO_DEVICE,
// AUDIO_ERROR_DRIVER, AUDIO_ERROR_TIMEOUT), one line to show below a failure's message and code,
// naming the chosen output when there is one; empty for any other code, which a user cannot mend.
std::string AudioErrorAdvice(int code);
