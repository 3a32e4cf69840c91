// The clamping rule every ranged setting of the tone generator follows, and the hook through
// which a design environment tells the designer about a clamped value. A running program installs
// no hook, so clamping there is silent.
#pragma once

#include <cstdint>
#include <string>

// Shows a modal message (text, caption) with an error icon and a single OK button.
using RangeMessageHook = void (*)(const std::string& text, const std::string& caption);

// Installs the hook (nullptr removes it); returns the previous one.
RangeMessageHook SetRangeMessageHook(RangeMessageHook hook);

// Returns value when minimum <= value <= maximum, otherwise the nearer bound. When designing is
// set and the value is out of range, the hook (if any) is shown "Value must be between <minimum>
// and <maximum>" with the caption "Error" first.
int64_t ClampToRange(int64_t minimum, int64_t maximum, int64_t value, bool designing);

// Shows the hook (if any) "Value must be between <minimum> and <maximum>" with the caption
// "Error": what ClampToRange shows, for a value that was clamped elsewhere.
void ShowRangeMessage(int64_t minimum, int64_t maximum);
