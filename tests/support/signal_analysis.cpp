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
  return MeasureFrequency(frames, {FrameRange{begin, end}}, frame_rate);
}

std::vector<FrameRange> SoundSegments(const std::vector<StereoFrame>& frames, size_t gap,
                                      int threshold) {
  std::vector<FrameRange> segments;
  for (size_t i = 0; i < frames.size(); ++i) {
    if (std::abs(frames[i].left) <= threshold && std::abs(frames[i].right) <= threshold) continue;
    if (segments.empty() || i - (segments.back().end - 1) > gap) segments.push_back({i, i});
    segments.back().end = i + 1;
  }
  return segments;
}

double MeasureFrequency(const std::vector<StereoFrame>& frames,
                        const std::vector<FrameRange>& segments, double frame_rate) {
  long periods = 0;
  double span = 0.0;
  for (const FrameRange& segment : segments) {
    double first = -1.0;
    double last = -1.0;
    long crossings = 0;
    for (size_t i = segment.begin + 1; i < segment.end && i < frames.size(); ++i) {
      const double a = frames[i - 1].left;
      const double b = frames[i].left;
      if (a < 0.0 && b >= 0.0) {
        const double t = static_cast<double>(i - 1) + (-a) / (b - a);
        if (first < 0.0) first = t;
        last = t;
        ++crossings;
      }
    }
    if (crossings < 2 || last <= first) continue;
    periods += crossings - 1;
    span += last - first;
  }
  return periods == 0 ? 0.0 : static_cast<double>(periods) * frame_rate / span;
}

size_t SoundingFrames(const std::vector<FrameRange>& segments) {
  size_t sounding = 0;
  for (const FrameRange& segment : segments) sounding += segment.end - segment.begin;
  return sounding;
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
