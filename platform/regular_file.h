// The one way to open a file a user names (a program file, the list of recent programs) for
// reading: opened without waiting, so that a named pipe or a device never blocks the caller in
// open(), and kept only when it is a regular file, so that a read never waits on a writer or
// runs on without end (/dev/zero). No Qt.
#pragma once

#include <cstdio>
#include <string>

// Opens path (bytes, as the file system names it) for reading. Null when it cannot be opened or
// is not a regular file, with the reason in *why ("not a regular file", or the system's text).
// With follow_link false, a symbolic link as the last part of the path is refused.
std::FILE* OpenRegularFile(const std::string& path, std::string* why, bool follow_link = true);
