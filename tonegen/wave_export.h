// Writing a finished image to a file without ever destroying what was there: the bytes go to a
// temporary file beside the target, which replaces the target only once all of them are on disk.
#pragma once

#include <cstddef>
#include <string>

// Returns true when the target now holds exactly these bytes. On false the target is as it was
// and no temporary file is left behind.
bool ReplaceFileContents(const std::string& path, const void* data, size_t size);
