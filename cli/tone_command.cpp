#include "tone_command.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "app_identity.h"
#include "audio_output.h"
#include "path_text.h"
#include "process_end.h"
#include "process_signals.h"
#include "regular_file.h"
#include "replace_file.h"
#include "stored_form.h"
#include "tone_gen.h"
#include "tone_options.h"

namespace {

// A stored form is a few dozen lines; anything far larger is not one.
constexpr size_t kMostSettingsBytes = 1 << 20;
// How long a played tone is given beyond its duration to leave the device's and the sound
// server's buffers before the output is closed.
constexpr std::chrono::milliseconds kDrainTime(250);

int Failure(const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", kAppName, message.c_str());
  return 1;
}

// A file name as a person reads it: bytes that are not UTF-8 written as \xNN.
std::string Shown(const std::string& path) {
  return ShownText(path).toStdString();
}

// The component's error text with the file name in it shown as above.
std::string ShownError(const std::string& text, const std::string& path) {
  std::string quoted = "'";
  quoted.append(path).append("'");
  const size_t at = text.find(quoted);
  if (at == std::string::npos) return text;
  std::string shown = text.substr(0, at);
  shown.append("'").append(Shown(path)).append("'").append(text, at + quoted.size());
  return shown;
}

std::string Reason() {
  return errno != 0 ? std::string(": ") + std::strerror(errno) : std::string();
}

// Reads the stored form of path into gen; an error text, or empty. A named pipe or a device is
// refused rather than waited on.
std::string ReadSettings(const std::string& path, TToneGen& gen) {
  std::string why;
  std::FILE* file = OpenRegularFile(path, &why);
  if (file == nullptr) return "cannot read '" + Shown(path) + "': " + why;
  std::string text(kMostSettingsBytes + 1, '\0');
  errno = 0;
  text.resize(std::fread(text.data(), 1, text.size(), file));
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) return "cannot read '" + Shown(path) + "'" + Reason();
  if (text.size() > kMostSettingsBytes) {
    std::string why = "'";
    why.append(Shown(path)).append("' is not a tone generator's stored form (larger than 1 MiB)");
    return why;
  }
  std::string error;
  if (!ReadToneGenForm(gen, text, &error)) return Shown(path) + ": " + error;
  return {};
}

// The failure of a play as the player's are told: the message, the code line and what to check.
int PlayFailure(const TToneGen& gen) {
  int code = AUDIO_ERROR_UNKNOWN;
  if (gen.LastError() == tgeNoOutput) code = AUDIO_ERROR_NO_DEVICE;
  if (gen.LastError() == tgeOutputFailed) code = AUDIO_ERROR_DRIVER;
  std::string text =
      "the tone could not be played: " + gen.LastErrorText() + "\n" + AudioErrorCodeLine(code);
  if (const std::string advice = AudioErrorAdvice(code); !advice.empty()) text += "\n" + advice;
  return Failure(text);
}

int Play(const ToneOptions& options, TToneGen& gen) {
  // Ctrl+C, kill and a closed terminal end the tone, and the process, in order.
  CatchQuitSignals();
  gen.SetAsync(true);
  gen.SetLoop(options.loop);
  if (options.envelope) {
    gen.PlayADSR();
  } else {
    gen.Play();
  }
  if (gen.LastError() != tgeNone) {
    gen.Stop();
    return PlayFailure(gen);
  }
  const auto end =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(gen.Duration()) + kDrainTime;
  while (QuitSignalArrived() == 0 && (options.loop || std::chrono::steady_clock::now() < end)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  gen.Stop();
  return EndProcess(0);
}

}  // namespace

bool IsToneCommand(int argc, char** argv) {
  return argc > 1 && std::strcmp(argv[1], "tone") == 0;
}

int RunToneCommand(int argc, char** argv) {
  const ToneOptions options = ParseToneOptions(argc, argv);
  if (options.action == ToneOptions::Action::Done) return options.exit_status;
  // A file size limit fails the write, like a full disk, and the old file stays.
  std::signal(SIGXFSZ, SIG_IGN);

  TToneGen gen(nullptr);
  if (!options.settings_file.empty()) {
    const std::string error = ReadSettings(options.settings_file, gen);
    if (!error.empty()) return Failure(error);
  }
  if (const std::string error = ApplyToneOptions(options, gen); !error.empty()) {
    return ToneUsageError(error);
  }

  switch (options.action) {
    case ToneOptions::Action::Export: {
      if (!(options.envelope ? gen.PrepareADSR() : gen.Prepare())) {
        return Failure("not enough memory for the tone's image");
      }
      if (!gen.ExportFile(options.file)) {
        return Failure(ShownError(gen.LastErrorText(), options.file));
      }
      return 0;
    }
    case ToneOptions::Action::Play:
      return Play(options, gen);
    case ToneOptions::Action::SaveSettings: {
      const std::string text = WriteToneGenForm(gen);
      errno = 0;
      if (!ReplaceFileContents(options.file, text.data(), text.size())) {
        return Failure("cannot write '" + Shown(options.file) +
                       "': " + WhyNotReplaced(options.file, errno));
      }
      return 0;
    }
    case ToneOptions::Action::Done:
      break;
  }
  return options.exit_status;
}
