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

// The stretches of sound, split wherever more than gap frames in a row stay within threshold on
// both channels. A tone never rests near zero that long, so such a silence is a gap in the
// recording (a player or recorder starved on a busy machine), and the tone on each side of it is
// measured on its own.
std::vector<FrameRange> SoundSegments(const std::vector<StereoFrame>& frames, size_t gap = 8,
                                      int threshold = 100);

// Frequency of the left channel over the segments together: the rising zero crossings within
// each segment over the time from each one's first crossing to its last, gaps left out. 0 when
// no segment has two crossings.
double MeasureFrequency(const std::vector<StereoFrame>& frames,
                        const std::vector<FrameRange>& segments, double frame_rate = 44100.0);

// Frames in the segments together.
size_t SoundingFrames(const std::vector<FrameRange>& segments);

// Largest |left + right| over [begin, end): 0 for a perfect antiphase pair.
int MaxAntiphaseError(const std::vector<StereoFrame>& frames, size_t begin, size_t end);

// Largest magnitude over [begin, end) on either channel.
int PeakLevel(const std::vector<StereoFrame>& frames, size_t begin, size_t end);
