// How long a sound this process plays through a PulseAudio server (or PipeWire's) takes from
// being handed to the server to being heard: what the server queues of the stream plus its sink's
// own latency (buffer_usec + sink_usec of the stream's sink input), read over a short connection
// of its own. Uses the libpulse that SDL's PulseAudio driver has loaded, and nothing when SDL plays
// through another driver. No Qt.
//
// Blocks its caller for one round trip to the server, at most timeout: call it off any thread
// that must stay responsive.
#pragma once

#include <chrono>
#include <cstdint>

// The latency in microseconds of this process's newest stream named stream_name (as a mixer shows
// it); -1 when it cannot be told: libpulse not loaded, no server, no such stream, no answer in
// time.
int64_t PulsePlaybackLatencyUsec(const char* stream_name, std::chrono::milliseconds timeout);
