#include "pulse_sinks.h"

#include <mutex>
#include <utility>

namespace {

// Filled on SDL's threads, read on the output thread.
std::mutex& SinksMutex() {
  static std::mutex* const mutex = new std::mutex;  // never destroyed: SDL's threads may call late
  return *mutex;
}
std::vector<PulseSinkName>& Sinks() {
  static auto* const sinks = new std::vector<PulseSinkName>;
  return *sinks;
}

}  // namespace

void RecordPulseSink(PulseSinkName sink) {
  const std::lock_guard<std::mutex> lock(SinksMutex());
  Sinks().push_back(std::move(sink));
}

void ForgetPulseSinks() {
  const std::lock_guard<std::mutex> lock(SinksMutex());
  Sinks().clear();
}

std::vector<PulseSinkName> PulseSinksListed() {
  const std::lock_guard<std::mutex> lock(SinksMutex());
  return Sinks();
}

std::vector<std::string> SdlNamesOf(const std::vector<PulseSinkName>& sinks) {
  std::vector<std::string> names;
  for (size_t k = 0; k < sinks.size(); ++k) {
    int earlier = 0;
    for (size_t j = 0; j < k; ++j) earlier += sinks[j].description == sinks[k].description;
    names.push_back(earlier == 0 ? sinks[k].description
                                 : sinks[k].description + " (" + std::to_string(earlier + 1) + ")");
  }
  return names;
}
