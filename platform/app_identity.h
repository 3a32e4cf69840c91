// How the program names itself to the desktop and the sound server: the application id its
// desktop entry, icon, task bar entry and notifications go by, and the short name used in
// messages, in the mixer and as the program's name on the command line.
#pragma once

inline constexpr char kAppId[] = "org.zelkgen.Zelkgen";
inline constexpr char kAppName[] = "zelkgen";
// The icon is installed under the application id.
inline constexpr const char* kAppIconName = kAppId;

// What every face prints when another copy already plays.
inline constexpr char kAnotherCopyMessage[] = "another copy is already running";
