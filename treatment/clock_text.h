// The two ways the program writes a time as a clock, each named for its rounding: a countdown's
// time left, whole seconds rounded up (0:00 only once the time is over), and a length exactly, to
// the millisecond. No Qt, so that the program-file parser can use it alone.
#pragma once

#include <cstdint>
#include <string>

// "2:41": minutes and seconds, a part of a second counting as a whole one; below 0 is "0:00".
std::string ClockTextRoundedUp(int64_t ms);
// "3:00", "1:00:00", "1:30.5": hours only from an hour on, and the milliseconds as decimals
// without trailing zeros when there are any.
std::string ClockTextExact(int64_t ms);
