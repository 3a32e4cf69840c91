// Plays one treatment step's tone the way the program opens it, for a given time, or writes the
// very same frames to stdout so that another player can play them (bench/dropouts.sh).
//
//   step_player play SECONDS FREQUENCY    default output, square, until the time is up or a
//                                         SIGINT/SIGTERM; exit 1 with the error code on failure
//   step_player write SECONDS FREQUENCY   raw s16le stereo frames at 44100 Hz on stdout
#include <signal.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "audio_output.h"
#include "ddfs.h"

namespace {

constexpr uint32_t FrameRate = 44100;
// The length SDL asks for with the 1024-frame device buffer; the frames do not depend on it.
constexpr uint32_t BufferBytes = 4096;

int Fail(const char* call) {
  std::fprintf(stderr, "step_player: %s failed (error code: %d)\n", call, BASS_ErrorGetCode());
  BASS_Free();
  return 1;
}

double Now() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Blocked before the audio thread exists, so that it inherits the mask and a stop signal waits
// for sigtimedwait instead of ending the process in the middle of the output.
sigset_t BlockStopSignals() {
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  return stop;
}

// Waits for the time given or for a stop signal, whichever comes first.
void WaitOrStop(const sigset_t& stop, double seconds) {
  const double deadline = Now() + seconds;
  for (double left = seconds; left > 0.0; left = deadline - Now()) {
    const auto whole = static_cast<time_t>(left);
    const timespec wait{whole, static_cast<long>((left - static_cast<double>(whole)) * 1e9)};
    if (sigtimedwait(&stop, nullptr, &wait) > 0) return;
  }
}

// What the program does for a step (see TForm1::RunTreatment), with no window to own it.
int Play(double seconds, double frequency) {
  const sigset_t stop = BlockStopSignals();
  if (!BASS_Init(-1, FrameRate, 0, nullptr, nullptr)) return Fail("BASS_Init");
  StreamFrequency = frequency;
  StreamAmplitude = 1.0L;
  const HSTREAM stream = BASS_StreamCreate(FrameRate, 2, 0, ToneStreamProc, nullptr);
  if (stream == 0) return Fail("BASS_StreamCreate");
  if (!BASS_ChannelPlay(stream, 0)) return Fail("BASS_ChannelPlay");
  WaitOrStop(stop, seconds);
  BASS_Stop();
  BASS_Free();
  return 0;
}

int Write(double seconds, double frequency) {
  StreamFrequency = frequency;
  StreamAmplitude = 1.0L;
  unsigned char buffer[BufferBytes];
  uint64_t frames_left = static_cast<uint64_t>(seconds * FrameRate);
  while (frames_left > 0) {
    const uint64_t frames = frames_left < BufferBytes / 4 ? frames_left : BufferBytes / 4;
    const uint32_t bytes = static_cast<uint32_t>(frames * 4);
    ToneStreamProc(0, buffer, bytes, nullptr);
    if (std::fwrite(buffer, 1, bytes, stdout) != bytes) {
      std::perror("step_player: write");
      return 1;
    }
    frames_left -= frames;
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const bool play = argc == 4 && std::strcmp(argv[1], "play") == 0;
  const bool write = argc == 4 && std::strcmp(argv[1], "write") == 0;
  const double seconds = argc == 4 ? std::strtod(argv[2], nullptr) : 0.0;
  const double frequency = argc == 4 ? std::strtod(argv[3], nullptr) : 0.0;
  if ((!play && !write) || !(seconds > 0.0) || !(frequency > 1.0)) {
    std::fprintf(stderr, "usage: %s play|write SECONDS FREQUENCY\n", argv[0]);
    return 2;
  }
  InitDDFS();
  return play ? Play(seconds, frequency) : Write(seconds, frequency);
}
