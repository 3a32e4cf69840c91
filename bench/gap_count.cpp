// Counts the gaps in a raw recording (s16le stereo, 44100 Hz) of a tone that repeats every
// PERIOD frames; see gap_counter.h.
//
//   gap_count RECORDING PERIOD
// prints "<gaps> <seconds of tone>" on the first line, then "<at seconds> <lost ms>" per gap.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "gap_counter.h"

namespace {

constexpr double FrameRate = 44100.0;

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s RECORDING PERIOD\n", argv[0]);
    return 2;
  }
  const long period = std::strtol(argv[2], nullptr, 10);
  if (period <= 0) {
    std::fprintf(stderr, "gap_count: bad period %s\n", argv[2]);
    return 2;
  }
  const int fd = open(argv[1], O_RDONLY);
  struct stat info {};
  if (fd < 0 || fstat(fd, &info) != 0) {
    std::perror(argv[1]);
    return 1;
  }
  const size_t count = static_cast<size_t>(info.st_size) / sizeof(uint32_t);
  // An empty recording has no tone: report it as such rather than mapping nothing.
  void* map = count == 0 ? nullptr : mmap(nullptr, count * 4, PROT_READ, MAP_PRIVATE, fd, 0);
  if (map == MAP_FAILED) {
    std::perror(argv[1]);
    return 1;
  }
  close(fd);
  const GapReport report =
      FindGaps({static_cast<const uint32_t*>(map), count}, static_cast<size_t>(period));
  std::printf("%zu %.3f\n", report.gaps.size(),
              static_cast<double>(report.tone_end - report.tone_begin) / FrameRate);
  for (const ToneGap& gap : report.gaps) {
    std::printf("%.3f %.1f\n", static_cast<double>(gap.first - report.tone_begin) / FrameRate,
                static_cast<double>(gap.lost) * 1000.0 / FrameRate);
  }
  if (map != nullptr) munmap(map, count * 4);
  return 0;
}
