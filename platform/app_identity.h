// How the program names itself to the desktop: the application id its desktop entry, icon, task
// bar entry and notifications go by, and the short name used in messages.
#pragma once

inline constexpr char kAppId[] = "org.zelkgen.Zelkgen";
inline constexpr char kAppName[] = "zelkgen";
