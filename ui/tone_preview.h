// What the Tone generator window draws, worked out from the component's settings value without
// touching the component or any sound: the start of the rendered tone (main tone and extra tones
// mixed, as the renderer makes it) and the envelope's level over the whole duration.
#pragma once

#include <vector>

#include "tone_settings.h"

struct WaveformPreview {
  std::vector<float> samples;  // the first channel, -1..1 of full scale, one per frame
  int frame_rate = 0;          // frames per second of the rendering
};

// The first frames of the plain rendering, enough for `periods` periods of Frequency (fewer when
// Duration is shorter). Only those frames are rendered, so it costs the same for any Duration.
WaveformPreview PreviewWaveform(const ToneSettings& settings, int periods);

// The envelope's level, 0..1, at `points` evenly spaced moments of Duration, as the renderer's
// envelope shapes a constant full-scale tone of that many frames.
std::vector<float> PreviewEnvelope(const ToneSettings& settings, int points);
