// Where program files live and which were used last. The program folders are
// $XDG_DATA_HOME/zelkgen/programs (~/.local/share/zelkgen/programs), then zelkgen/programs in each
// of $XDG_DATA_DIRS (/usr/local/share, /usr/share), the system's examples last; a file in an
// earlier folder hides one of the same name in a later one, as XDG data files do. The recently
// used programs are the one thing the program keeps of its own: a list of paths, newest first,
// in $XDG_STATE_HOME/zelkgen/recent-programs (~/.local/state).
//
// QtCore only. Window thread (or the command line's) only.
#pragma once

#include <QString>
#include <QStringList>
#include <string>

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

// The recently used program files that still exist, newest first.
QStringList RecentPrograms();

// Puts path (made absolute) first in the recent list, which keeps 20 entries. False when the
// list cannot be written; the program works on without it.
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
