// Unit-wide state of the tone generator component, kept inside the library: the number of live
// instances (designing ones included) and the volume word the first instance of a running program
// found. SavedVolumeKnown is true from a successful read until the last instance has given that
// volume back; otherwise the last instance leaves the volume as it is.
#pragma once

#include <cstdint>

extern int32_t ToneGenCount;
extern uint32_t SavedVolume;
extern bool SavedVolumeKnown;
