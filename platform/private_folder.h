// Folders only this user can reach, for what another user must neither read nor replace: the
// one-copy lock where $XDG_RUNTIME_DIR does not serve, and the list of recently used programs.
// Both live in the user's state folder, $XDG_STATE_HOME/zelkgen or ~/.local/state/zelkgen, which
// is made for this user alone (0700) and used only when nobody else can have made or replaced it
// or a folder above it. Never a folder that everybody shares, such as /tmp. No Qt.
#pragma once

#include <cstddef>
#include <string>

// True when path is a folder (not a link to one) of this user's, closed to everybody else and
// writable; else false with the reason in *why.
bool IsPrivateFolder(const std::string& path, std::string* why);

// The user's state folder for the program, checked as above. With make, it and the folders
// above it that are missing are made first, each 0700. Empty, with the reason in *why, when
// there is no home to put it in or the folder does not pass the checks (or, without make, does
// not exist).
std::string PrivateStateFolder(bool make, std::string* why);

// The bytes of the file name in the state folder (PrivateStateFolder without make), at most
// most_bytes of them, read as regular_file.h reads: a pipe, a device or a link in its place is
// refused rather than waited on or followed. False with the reason in *why when it cannot be
// read; true with no bytes when there is no such file yet.
bool ReadStateFile(const std::string& name, size_t most_bytes, std::string* bytes,
                   std::string* why);

// Replaces the file name in the state folder (made as PrivateStateFolder makes it) with bytes,
// whole or not at all, readable by this user only (0600); whatever was in its place, a link
// included, is replaced, never written through. False with the reason in *why.
bool WriteStateFile(const std::string& name, const std::string& bytes, std::string* why);
