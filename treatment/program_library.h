// Where program files live and which were used last. The program folders are
// $XDG_DATA_HOME/zelkgen/programs (~/.local/share/zelkgen/programs), then zelkgen/programs in each
// of $XDG_DATA_DIRS (/usr/local/share, /usr/share), the system's examples last; a file in an
// earlier folder hides one of the same name in a later one, as XDG data files do. The recently
// used programs are the one thing the program keeps of its own: a list of paths, newest first,
// in recent-programs in the user's private state folder (private_folder.h), the one-copy lock's
// fallback folder: made 0700, the list 0600, no link followed, read up to a fixed size and
// number of entries, replaced whole through a new file. A list that cannot be read as such is
// ignored, with one line on stderr. Paths are kept as bytes (path_text.h).
//
// QtCore only. Window thread (or the command line's) only.
#pragma once

#include <QString>
#include <QStringList>
#include <string>

// The list keeps this many programs, and is read up to this many bytes (each entry a path of at
// most 4096 bytes); a larger file is not a list of ours.
inline constexpr int kRecentKept = 20;
inline constexpr qint64 kMaxRecentListBytes = kRecentKept * 4097;

// The program folders in the order they are searched, existing or not.
QStringList ProgramFolders();

// The program files (*.zelkgen) in the folders, each folder's by name.
QStringList ProgramFilesInFolders();

// The name a program file goes by on the command line: its file name without the folder and the
// extension ("morning" for .../programs/morning.zelkgen).
QString ProgramFileName(const QString& path);

// The program file of the folders that goes by name (ProgramFilesInFolders' choice where several
// folders hold one), or empty.
QString ProgramFileNamed(const QString& name);

// The recently used program files that are still regular files, newest first.
QStringList RecentPrograms();

// Puts path (made absolute) first in the recent list. False when the list cannot be written;
// the program works on without it.
bool RememberProgram(const QString& path);

// Where a new program of this title goes: a file in the first program folder (the user's own)
// named after the title, "evening-calm.zelkgen", one not yet taken.
QString NewProgramPath(const QString& title);

// Writes text to path whole or not at all: into a file beside it that then takes its place, so
// an older file stays as it was on any failure. Makes the folder where needed. On false,
// *error says why.
bool SaveProgramText(const QString& path, const std::string& text, QString* error);

// The recent programs, then the programs in the folders that are not among them: what the
// window lists.
QStringList ProgramsRecentFirst();
