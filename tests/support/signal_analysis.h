// Measuring recorded or produced audio: interleaved signed 16-bit stereo frames.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct StereoFrame {
  int16_t left;
  int16_t right;
};

// Reads a raw little-endian s16 stereo file; empty when it cannot be read.
std::vector<StereoFrame> ReadRawStereo(const std::string& path);

// Index range [begin, end) of the frames whose magnitude exceeds threshold on either channel,
// from the first such frame to the last; begin == end when there is none.
struct FrameRange {
  size_t begin = 0;
  size_t end = 0;
};
FrameRange AudibleRange(const std::vector<StereoFrame>& frames, int threshold = 100);

// Frequency of the left channel over [begin, end), from the first to the last rising zero
// crossing (linearly interpolated), at the given frame rate. 0 when fewer than two crossings.
double MeasureFrequency(const std::vector<StereoFrame>& frames, size_t begin, size_t end,
                        double frame_rate = 44100.0);

// Largest |left + right| over [begin, end): 0 for a perfect antiphase pair.
int MaxAntiphaseError(const std::vector<StereoFrame>& frames, size_t begin, size_t end);

// Largest magnitude over [begin, end) on either channel.
int PeakLevel(const std::vector<StereoFrame>& frames, size_t begin, size_t end);
