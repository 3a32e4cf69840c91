// The PulseAudio sinks behind SDL's output names. SDL names an output by its sink's description
// alone, and two sinks with the same one by their place in its listing ("Twin", "Twin (2)"), a
// place that changes when a sink is loaded again. The sink's own name stays: it is remembered
// beside the description, and turned back into SDL's name of the moment here. Recorded by
// pulse_operation_guard.cpp as SDL's driver lists the sinks. No Qt.
#pragma once

#include <string>
#include <vector>

struct PulseSinkName {
  std::string name;         // the server's own, stable name of the sink
  std::string description;  // what SDL names it by
};

// Adds a sink to the record, as SDL's driver is told of it.
void RecordPulseSink(PulseSinkName sink);

// Empties the record, as a new listing starts.
void ForgetPulseSinks();

// The sinks of SDL's driver's last listing (when its audio last started), in its order. Sinks
// that came or went later, while its audio ran on, are not in it.
std::vector<PulseSinkName> PulseSinksListed();

// SDL's names for the sinks listed, in the same order: the description, and for a later sink
// with the same description " (2)", " (3)" ... as SDL numbers them.
std::vector<std::string> SdlNamesOf(const std::vector<PulseSinkName>& sinks);
