// Plays one treatment step's tone the way the program opens it, for a given time, or writes the
// very same frames to stdout so that another player can play them (bench/dropouts.sh,
// bench/skip_silence.sh).
//
//   step_player play SECONDS FREQUENCY [BUFFER FRAMES]
//       default output, square, until the time is up or a SIGINT/SIGTERM, then stopped and
//       released as Skip does; exit 1 with the error code on failure. The device buffer is the
//       program's own (1024 frames) unless given. On stderr: the CLOCK_MONOTONIC time at which
//       the stop began ("stop at S"), and how SDL's audio thread was scheduled and how many page
//       faults it took while it played.
//   step_player write SECONDS FREQUENCY   raw s16le stereo frames at 44100 Hz on stdout
#include <dirent.h>
#include <signal.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "audio_output.h"
#include "audio_output_testing.h"
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

// What /proc says of SDL's playback thread ("SDLAudioP..."): scheduling and page faults.
struct AudioThread {
  bool found = false;
  long minor_faults = 0;
  long major_faults = 0;
  long priority = 0;
  long nice = 0;
  long policy = 0;
};

AudioThread ReadAudioThread() {
  AudioThread thread;
  DIR* tasks = opendir("/proc/self/task");
  if (tasks == nullptr) return thread;
  while (const dirent* entry = readdir(tasks)) {
    const std::string task = std::string("/proc/self/task/") + entry->d_name;
    char name[32] = {};
    FILE* comm = std::fopen((task + "/comm").c_str(), "r");
    if (comm == nullptr) continue;
    const bool audio =
        std::fgets(name, sizeof name, comm) != nullptr && std::strncmp(name, "SDLAudioP", 9) == 0;
    std::fclose(comm);
    if (!audio) continue;
    FILE* stat = std::fopen((task + "/stat").c_str(), "r");
    if (stat == nullptr) break;
    char line[1024] = {};
    const bool read = std::fgets(line, sizeof line, stat) != nullptr;
    std::fclose(stat);
    // The fields after the name, which ends at the last ')': state is field 3.
    const char* rest = read ? std::strrchr(line, ')') : nullptr;
    long field[64] = {};
    int n = 3;
    for (const char* p = rest ? rest + 2 : ""; *p != '\0' && n < 64; ++n) {
      field[n] = std::strtol(p, nullptr, 10);
      p = std::strchr(p, ' ');
      if (p == nullptr) break;
      ++p;
    }
    if (n >= 41) {
      thread = AudioThread{true, field[10], field[12], field[18], field[19], field[41]};
    }
    break;
  }
  closedir(tasks);
  return thread;
}

// What the program does for a step (see TreatmentRun::Run), with no window to own it.
int Play(double seconds, double frequency) {
  const sigset_t stop = BlockStopSignals();
  if (!BASS_Init(-1, FrameRate, 0, nullptr, nullptr)) return Fail("BASS_Init");
  StreamFrequency = frequency;
  StreamAmplitude = 1.0L;
  const HSTREAM stream = BASS_StreamCreate(FrameRate, 2, 0, ToneStreamProc, nullptr);
  if (stream == 0) return Fail("BASS_StreamCreate");
  if (!BASS_ChannelPlay(stream, 0)) return Fail("BASS_ChannelPlay");
  // Faults are counted from the first second on, when the device has settled.
  WaitOrStop(stop, seconds < 2.0 ? seconds : 1.0);
  const AudioThread settled = ReadAudioThread();
  if (seconds >= 2.0) WaitOrStop(stop, seconds - 1.0);
  const AudioThread end = ReadAudioThread();
  const double stop_at = Now();
  BASS_Stop();
  BASS_Free();
  std::fprintf(stderr, "stop at %.6f\n", stop_at);
  if (end.found) {
    std::fprintf(stderr,
                 "audio thread: policy %ld, priority %ld, nice %ld; page faults while playing: "
                 "%ld minor, %ld major\n",
                 end.policy, end.priority, end.nice, end.minor_faults - settled.minor_faults,
                 end.major_faults - settled.major_faults);
  }
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
  const bool play = (argc == 4 || argc == 5) && std::strcmp(argv[1], "play") == 0;
  const bool write = argc == 4 && std::strcmp(argv[1], "write") == 0;
  const double seconds = argc >= 4 ? std::strtod(argv[2], nullptr) : 0.0;
  const double frequency = argc >= 4 ? std::strtod(argv[3], nullptr) : 0.0;
  const long frames = argc == 5 ? std::strtol(argv[4], nullptr, 10) : 0;
  if ((!play && !write) || !(seconds > 0.0) || !(frequency > 1.0) || frames < 0 || frames > 32768) {
    std::fprintf(stderr, "usage: %s play SECONDS FREQUENCY [BUFFER FRAMES]\n", argv[0]);
    std::fprintf(stderr, "       %s write SECONDS FREQUENCY\n", argv[0]);
    return 2;
  }
  AudioOutputUseBufferFrames(static_cast<uint16_t>(frames));
  InitDDFS();
  return play ? Play(seconds, frequency) : Write(seconds, frequency);
}
