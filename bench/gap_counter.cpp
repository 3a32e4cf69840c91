#include "gap_counter.h"

#include <algorithm>

GapReport FindGaps(std::span<const uint32_t> frames, size_t period) {
  GapReport report;
  const auto audible = [](uint32_t frame) { return frame != 0; };
  const auto first_audible = std::find_if(frames.begin(), frames.end(), audible);
  if (first_audible == frames.end() || period == 0) return report;
  report.tone_begin = static_cast<size_t>(first_audible - frames.begin());
  report.tone_end =
      static_cast<size_t>(frames.rend() - std::find_if(frames.rbegin(), frames.rend(), audible));

  bool open = false;
  size_t first = 0;
  size_t last = 0;
  const auto close = [&] {
    const size_t span = last - first + 1;
    report.gaps.push_back({first, span > period ? span - period : 0});
  };
  for (size_t n = report.tone_begin + 2 * period; n < report.tone_end; ++n) {
    // A pause longer than a period matches itself a period later, so silence is a mismatch
    // on its own.
    if (frames[n] != 0 && frames[n] == frames[n - period]) continue;
    if (open && n - last <= period) {
      last = n;
      continue;
    }
    if (open) close();
    open = true;
    first = last = n;
  }
  if (open) close();
  return report;
}
