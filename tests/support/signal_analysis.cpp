#include "signal_analysis.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>

std::vector<StereoFrame> ReadRawStereo(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<StereoFrame> frames;
  unsigned char bytes[4];
  while (in.read(reinterpret_cast<char*>(bytes), 4)) {
    frames.push_back({static_cast<int16_t>(bytes[0] | (bytes[1] << 8)),
                      static_cast<int16_t>(bytes[2] | (bytes[3] << 8))});
  }
  return frames;
}

FrameRange AudibleRange(const std::vector<StereoFrame>& frames, int threshold) {
  FrameRange range;
  bool found = false;
  for (size_t i = 0; i < frames.size(); ++i) {
    if (std::abs(frames[i].left) > threshold || std::abs(frames[i].right) > threshold) {
      if (!found) range.begin = i;
      found = true;
      range.end = i + 1;
    }
  }
  if (!found) range.begin = range.end = 0;
  return range;
}

double MeasureFrequency(const std::vector<StereoFrame>& frames, size_t begin, size_t end,
                        double frame_rate) {
  double first = -1.0;
  double last = -1.0;
  long crossings = 0;
  for (size_t i = begin + 1; i < end && i < frames.size(); ++i) {
    const double a = frames[i - 1].left;
    const double b = frames[i].left;
    if (a < 0.0 && b >= 0.0) {
      const double t = static_cast<double>(i - 1) + (-a) / (b - a);
      if (first < 0.0) first = t;
      last = t;
      ++crossings;
    }
  }
  if (crossings < 2 || last <= first) return 0.0;
  return static_cast<double>(crossings - 1) * frame_rate / (last - first);
}

int MaxAntiphaseError(const std::vector<StereoFrame>& frames, size_t begin, size_t end) {
  int worst = 0;
  for (size_t i = begin; i < end && i < frames.size(); ++i) {
    worst = std::max(worst, std::abs(frames[i].left + frames[i].right));
  }
  return worst;
}

int PeakLevel(const std::vector<StereoFrame>& frames, size_t begin, size_t end) {
  int peak = 0;
  for (size_t i = begin; i < end && i < frames.size(); ++i) {
    peak = std::max({peak, std::abs(static_cast<int>(frames[i].left)),
                     std::abs(static_cast<int>(frames[i].right))});
  }
  return peak;
}
