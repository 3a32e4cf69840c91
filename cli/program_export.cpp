#include "program_export.h"

#include <sndfile.h>  // types and signatures only; the library is loaded at the first export

#include <algorithm>
#include <bit>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <vector>

#include "ddfs.h"
#include "library_at_first_use.h"
#include "little_endian.h"
#include "replace_file.h"
#include "step_sound.h"

namespace {

struct FileType {
  const char* extension;
  int format;
};

constexpr FileType kFileTypes[] = {
    {".wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16},
    {".flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
};

// libFLAC's level 1 (libsndfile spreads levels 0..8 over 0..1): on these tones about 1.5 times
// as fast as the default level for 2 % more bytes.
constexpr double kFlacCompression = 0.125;

// The application named in the files' tags.
constexpr char kExportSoftware[] = "zelkgen " ZELKGEN_VERSION;

// Frames per stream procedure call; the frames do not depend on how a step is cut into buffers.
constexpr uint32_t kChunkFrames = 65536;

// A RIFF/WAVE file counts its bytes in 32 bits, the 44-byte header included.
constexpr uint64_t kMostWaveFrames = (uint64_t{0xFFFFFFFF} - 44) / kBytesPerFrame;

// libsndfile is opened at the first export instead of being linked: it brings eight codec
// libraries (Vorbis, Opus, MP3, ...) that every start of the window would otherwise load.
struct SndfileApi {
  decltype(&sf_open_fd) open_fd;
  decltype(&sf_command) command;
  decltype(&sf_set_string) set_string;
  decltype(&sf_writef_short) writef_short;
  decltype(&sf_close) close;
  decltype(&sf_strerror) strerror;
  decltype(&sf_error_number) error_number;
};

// The table, or nullptr with *error set when the library or a function is missing.
const SndfileApi* Sndfile(std::string* error) {
  const LoadedLibrary<SndfileApi>& loaded = LibraryAtFirstUse<SndfileApi>(
      "libsndfile.so.1", [](SymbolResolver& resolve, SndfileApi& api) {
        return resolve("sf_open_fd", &api.open_fd) && resolve("sf_command", &api.command) &&
               resolve("sf_set_string", &api.set_string) &&
               resolve("sf_writef_short", &api.writef_short) && resolve("sf_close", &api.close) &&
               resolve("sf_strerror", &api.strerror) &&
               resolve("sf_error_number", &api.error_number);
      });
  if (!loaded.complete) *error = loaded.error;
  return loaded.Get();
}

const FileType* FileTypeOf(const std::string& path) {
  std::string lower = path;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (const FileType& type : kFileTypes) {
    const size_t length = std::strlen(type.extension);
    if (lower.size() > length && lower.compare(lower.size() - length, length, type.extension) == 0)
      return &type;
  }
  return nullptr;
}

// ToneStreamProc's buffer holds little-endian samples; libsndfile takes them in host order.
void ToHostOrder(std::vector<int16_t>& samples) {
  if constexpr (std::endian::native == std::endian::big) {
    for (int16_t& sample : samples) {
      uint8_t bytes[2];
      std::memcpy(bytes, &sample, sizeof bytes);
      sample = static_cast<int16_t>(GetLE16(bytes));
    }
  }
}

class StepWriter {
 public:
  StepWriter(const SndfileApi& sndfile, const TreatmentProgram& program, WaveShape shape,
             int format, uint32_t step_frames, const ExportProgressReport& report)
      : sf_(sndfile),
        program_(program),
        shape_(shape),
        format_(format),
        step_frames_(step_frames),
        report_(report) {}

  // Writes every step into fd; on false, error_ says why.
  bool Write(int fd) {
    SF_INFO info{};
    info.samplerate = kFramesPerSecond;
    info.channels = kChannels;
    info.format = format_;
    SNDFILE* file = sf_.open_fd(fd, SFM_WRITE, &info, SF_FALSE);
    if (file == nullptr) return Fail(sf_.strerror(nullptr));
    if ((format_ & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC) {
      double level = kFlacCompression;
      sf_.command(file, SFC_SET_COMPRESSION_LEVEL, &level, sizeof level);
    }
    // Players and file managers show what the file holds and what made it: Vorbis comments in a
    // FLAC file, a LIST INFO chunk before the samples of a WAV file.
    sf_.set_string(file, SF_STR_TITLE, program_.Name.c_str());
    sf_.set_string(file, SF_STR_SOFTWARE, kExportSoftware);
    const bool written = WriteSteps(file);
    if (!written && error_.empty()) error_ = sf_.strerror(file);
    // Closing writes what the encoder still holds and the final header.
    const int closed = sf_.close(file);
    if (written && closed != 0) return Fail(sf_.error_number(closed));
    return written;
  }

  const std::string& Error() const { return error_; }

 private:
  bool WriteSteps(SNDFILE* file) {
    std::vector<int16_t> samples(size_t{kChannels} * kChunkFrames);
    const uint64_t total = ProgramFrames(program_, step_frames_);
    uint64_t done = 0;
    OutputWaveShape.store(shape_);
    for (size_t step = 0; step < program_.Steps.size(); ++step) {
      const uint64_t step_frames = StepFrames(program_.Steps[step], step_frames_);
      const StepSound sound = PrepareStepSound(program_.Steps[step], step_frames, oscillator_);
      for (uint64_t left = step_frames; left > 0;) {
        const auto frames = static_cast<uint32_t>(std::min<uint64_t>(left, kChunkFrames));
        sound.proc(0, samples.data(), frames * kBytesPerFrame, sound.user);
        ToHostOrder(samples);
        if (sf_.writef_short(file, samples.data(), frames) != sf_count_t{frames}) return false;
        left -= frames;
        done += frames;
        if (report_ && !report_(step + 1, static_cast<int>(done * 100 / total)))
          return Fail("stopped before the end");
      }
    }
    return true;
  }

  bool Fail(const std::string& why) {
    error_ = why;
    return false;
  }

  const SndfileApi& sf_;
  const TreatmentProgram& program_;
  const WaveShape shape_;
  const int format_;
  const uint32_t step_frames_;
  const ExportProgressReport& report_;
  ExactOscillator oscillator_;
  std::string error_;
};

}  // namespace

bool ExportProgram(const TreatmentProgram& program, WaveShape shape, const std::string& path,
                   uint32_t step_frames, const ExportProgressReport& report, std::string* error) {
  const std::string where = "cannot write '" + path + "': ";
  const FileType* type = FileTypeOf(path);
  if (type == nullptr) {
    *error = where + "unknown file type (the name must end in .wav or .flac)";
    return false;
  }
  if (step_frames == 0) {
    *error = where + "a step needs at least one frame";
    return false;
  }
  if ((type->format & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV &&
      ProgramFrames(program, step_frames) > kMostWaveFrames) {
    *error = where + "the program is longer than a WAV file can hold (6:45:47); use .flac";
    return false;
  }
  std::string load_error;
  const SndfileApi* sndfile = Sndfile(&load_error);
  if (sndfile == nullptr) {
    *error = where + "libsndfile cannot be loaded: " + load_error;
    return false;
  }
  StepWriter writer(*sndfile, program, shape, type->format, step_frames, report);
  errno = 0;
  if (ReplaceFileWith(path, [&writer](int fd) { return writer.Write(fd); })) return true;
  // A failure before or after the writing (a missing folder, a refused rename) leaves errno.
  const int cause = errno;
  if (!writer.Error().empty()) {
    *error = where + writer.Error();
  } else {
    *error = where + WhyNotReplaced(path, cause);
  }
  return false;
}
