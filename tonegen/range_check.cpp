#include "range_check.h"

namespace {
RangeMessageHook g_range_message_hook = nullptr;
}

RangeMessageHook SetRangeMessageHook(RangeMessageHook hook) {
  RangeMessageHook previous = g_range_message_hook;
  g_range_message_hook = hook;
  return previous;
}

int64_t ClampToRange(int64_t minimum, int64_t maximum, int64_t value, bool designing) {
  if (minimum <= value && value <= maximum) return value;
  if (designing) ShowRangeMessage(minimum, maximum);
  return value < minimum ? minimum : maximum;
}

void ShowRangeMessage(int64_t minimum, int64_t maximum) {
  if (g_range_message_hook == nullptr) return;
  g_range_message_hook(
      "Value must be between " + std::to_string(minimum) + " and " + std::to_string(maximum),
      "Error");
}
