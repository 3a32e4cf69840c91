#include "program_library.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QStandardPaths>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "app_identity.h"
#include "path_text.h"
#include "private_folder.h"
#include "program_file.h"
#include "regular_file.h"
#include "replace_file.h"

namespace {

constexpr char kRecentListName[] = "/recent-programs";

// One line on stderr for whatever keeps the list from being used, once in the process's life:
// the window reads the list at every refill.
void ComplainOnce(const std::string& why) {
  static bool complained = false;
  if (std::exchange(complained, true)) return;
  std::fprintf(stderr, "%s: the list of recent programs is not used (%s)\n", kAppName, why.c_str());
}

bool IsRegularFile(const QString& path) {
  struct stat info {};
  return stat(PathBytes(path).c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// The list's entries; empty when there is none yet, or it cannot be read as a list.
QStringList ReadRecentList() {
  std::string why;
  const std::string folder = PrivateStateFolder(false, &why);
  if (folder.empty()) return {};  // nothing kept yet, or a folder another could have made
  const std::string path = folder + kRecentListName;
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) return {};  // none yet
  std::FILE* file = OpenRegularFile(path, &why, false);
  if (file == nullptr) {
    ComplainOnce(path + ": " + why);
    return {};
  }
  std::string text(kMaxRecentListBytes + 1, '\0');
  const size_t size = std::fread(text.data(), 1, text.size(), file);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  text.resize(size);
  if (failed || size > kMaxRecentListBytes || text.find('\0') != std::string::npos) {
    ComplainOnce(path + ": " + (failed ? "cannot be read" : "not a list of paths"));
    return {};
  }
  QStringList paths;
  for (size_t at = 0; at < text.size() && paths.size() < kRecentKept;) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    // Only absolute paths were written.
    if (text[at] == '/') paths << PathText(std::string_view(text).substr(at, end - at));
    at = end + 1;
  }
  return paths;
}

// Replaces the list through a new file in the checked folder: an existing list, or a link put
// in its place, is replaced, never written through.
bool WriteRecentList(const QStringList& paths) {
  std::string why;
  const std::string folder = PrivateStateFolder(true, &why);
  if (folder.empty()) {
    ComplainOnce(why);
    return false;
  }
  std::string text;
  for (const QString& entry : paths) text += PathBytes(entry) + '\n';
  std::string temporary = folder + kRecentListName + ".XXXXXX";
  const int fd = mkostemp(temporary.data(), O_CLOEXEC);  // 0600
  if (fd < 0) return false;
  bool written = write(fd, text.data(), text.size()) == ssize_t(text.size());
  written = close(fd) == 0 && written;
  if (written && rename(temporary.c_str(), (folder + kRecentListName).c_str()) == 0) return true;
  unlink(temporary.c_str());
  return false;
}

}  // namespace

QStringList ProgramFolders() {
  QStringList folders;
  // XDG_DATA_HOME first, then XDG_DATA_DIRS in order, each with its default.
  for (const QString& data :
       QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation)) {
    folders << data + "/zelkgen/programs";
  }
  return folders;
}

QStringList ProgramFilesInFolders() {
  QStringList files;
  QSet<QString> names;
  for (const QString& folder : ProgramFolders()) {
    const QDir dir(folder);
    const QStringList here = dir.entryList({QString("*") + kProgramFileExtension},
                                           QDir::Files | QDir::Readable, QDir::Name);
    for (const QString& name : here) {
      if (names.contains(name)) continue;
      names.insert(name);
      files << dir.filePath(name);
    }
  }
  return files;
}

QString ProgramFileName(const QString& path) {
  QString name = QFileInfo(path).fileName();
  if (name.endsWith(kProgramFileExtension)) name.chop(int(std::strlen(kProgramFileExtension)));
  return name;
}

QString ProgramFileNamed(const QString& name) {
  if (name.isEmpty() || name.contains('/')) return {};
  for (const QString& path : ProgramFilesInFolders()) {
    if (ProgramFileName(path) == name) return path;
  }
  return {};
}

QStringList RecentPrograms() {
  QStringList existing;
  for (const QString& path : ReadRecentList()) {
    if (IsRegularFile(path)) existing << path;
  }
  return existing;
}

bool RememberProgram(const QString& path) {
  const QString absolute = AbsolutePathText(path);
  if (absolute.contains('\n') || PathBytes(absolute).size() > 4096) return false;  // one a line
  QStringList paths = ReadRecentList();
  paths.removeAll(absolute);
  paths.prepend(absolute);
  while (paths.size() > kRecentKept) paths.removeLast();
  return WriteRecentList(paths);
}

QStringList ProgramsRecentFirst() {
  QStringList programs = RecentPrograms();
  for (const QString& path : ProgramFilesInFolders()) {
    if (!programs.contains(AbsolutePathText(path))) programs << path;
  }
  return programs;
}

QString NewProgramPath(const QString& title) {
  QString stem;
  for (const QChar c : title.toLower()) {
    if (c.isLetterOrNumber()) {
      stem += c;
    } else if (!stem.isEmpty() && !stem.endsWith('-')) {
      stem += '-';
    }
  }
  while (stem.endsWith('-')) stem.chop(1);
  if (stem.isEmpty()) stem = QStringLiteral("program");
  const QDir folder(ProgramFolders().value(0));
  QString name = stem + kProgramFileExtension;
  for (int n = 2; folder.exists(name); ++n) {
    name = QStringLiteral("%1-%2%3").arg(stem).arg(n).arg(kProgramFileExtension);
  }
  return folder.absoluteFilePath(name);
}

bool SaveProgramText(const QString& path, const std::string& text, QString* error) {
  if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
    *error = QFileInfo(path).absolutePath() + ": the folder cannot be made";
    return false;
  }
  // Whole or not at all, as every export; the system's reason when not (a full disk names
  // itself, where a buffered write would only say it failed).
  const std::string bytes = PathBytes(path);
  errno = 0;
  if (ReplaceFileContents(bytes, text.data(), text.size())) return true;
  *error = path + ": " + QString::fromLocal8Bit(WhyNotReplaced(bytes, errno));
  return false;
}
