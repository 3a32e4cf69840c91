// The faces of the signal generators that need no run: --identify DEVICE asks a generator what it
// is and prints its model, firmware and limits; --list-devices lists the generators it can see
// beside the sound outputs.
#pragma once

#include <string>

// Prints what the generator named (fy:PORT, jds:PORT, scpi:ADDRESS, scpi:/dev/usbtmcN) says it
// is; changes none of its settings. 0 when it answered, 1 (after a message on standard error)
// when it did not, 2 for a name that names no generator.
int IdentifyGenerator(const std::string& device);

// The generators seen on serial ports and USBTMC, one a line as --device takes them, a tab and
// what was seen after each.
void PrintGeneratorList();
