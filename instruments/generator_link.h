// The byte link to a generator: a serial port, a TCP connection or a USBTMC device file. Every
// wait is bounded by the caller's timeout; a link that breaks says so (Broken) rather than
// timing out again and again. Used from one thread; blocking calls, each at most its timeout.
#pragma once

#include <memory>
#include <string>

#include "device_name.h"

class GeneratorLink {
 public:
  enum class Read {
    Line,     // a whole line arrived (without its line end)
    Timeout,  // nothing complete within the time
    Broken,   // the link is gone (port closed, connection dropped, device unplugged)
  };

  virtual ~GeneratorLink() = default;
  virtual bool Open(std::string* error) = 0;
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
  // Sends bytes in one write, within timeout_ms; false when the link broke.
  virtual bool Write(const std::string& bytes, int timeout_ms, std::string* error) = 0;
  // One reply line, ended by '\n' (a '\r' before it is dropped).
  virtual Read ReadLine(int timeout_ms, std::string* line, std::string* error) = 0;
  // Drops what arrived unasked (a late reply to an earlier command).
  virtual void DiscardInput() = 0;
};

// The link a generator's name calls for: serial at 115200 8N1 for fy: and jds:, TCP for
// scpi:ADDRESS, the device file for scpi:/dev/usbtmcN.
std::unique_ptr<GeneratorLink> MakeGeneratorLink(const DeviceName& name);
