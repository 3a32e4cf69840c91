// Feeds arbitrary texts to the stored-form reader; whatever it accepts must write out and read
// back to the same text.
#include <cstdint>
#include <string>
#include <string_view>

#include "stored_form.h"
#include "tone_gen.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  TToneGen gen(nullptr);
  std::string error;
  if (!ReadToneGenForm(gen, text, &error)) {
    if (error.empty()) __builtin_trap();
    return 0;
  }
  const std::string written = WriteToneGenForm(gen);
  TToneGen again(nullptr);
  if (!ReadToneGenForm(again, written, &error)) __builtin_trap();
  if (WriteToneGenForm(again) != written) __builtin_trap();
  return 0;
}
