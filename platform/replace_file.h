// Writing a finished image to a file the way a careful editor saves: the bytes go to a temporary
// file beside the target, which replaces the target only once all of them are on disk.
//
// The temporary file has no name where the file system allows it (O_TMPFILE): a process killed
// while it writes (SIGKILL, a crash, a power cut) leaves nothing behind, since the system drops
// a file nobody named. Once complete it is linked into place, under the target's name when that
// is new, else under a temporary name renamed over the target. Elsewhere it is a named file,
// ".zelkgen-" and eight hexadecimal digits; every export then removes such files of this user
// older than a day from the folder, which only a killed export can have left.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

// Returns true when the file that path names now holds exactly these bytes. A symbolic link is
// kept and the file it names (which need not exist yet) is written, unless another user made it
// in a sticky folder everybody may write (/tmp) whose owner did not make it either: such a link
// is refused (errno EACCES) as the kernel refuses it, nothing written; a replaced file keeps its
// permission bits, a new one gets 0666 less the umask. A file the caller may not write, a folder,
// a missing folder or a failed write give false; the target is then as it was and no temporary
// file is left behind.
bool ReplaceFileContents(const std::string& path, const void* data, size_t size);

// Writes the new contents into the temporary file: its descriptor, open for writing at offset 0.
// False means the contents are incomplete.
using ContentsWriter = std::function<bool(int fd)>;

// ReplaceFileContents for contents made while they are written (a whole program's audio): the
// same rules, with write_contents filling the temporary file before it replaces the target.
bool ReplaceFileWith(const std::string& path, const ContentsWriter& write_contents);

// The reason to tell the user that a replace of path failed with errno cause: the link refused
// above by its name, else the system's text for cause.
std::string WhyNotReplaced(const std::string& path, int cause);
