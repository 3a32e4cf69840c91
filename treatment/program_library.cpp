#include "program_library.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>
#include <QStandardPaths>
#include <cstring>

#include "program_file.h"

namespace {

constexpr int kRecentKept = 20;

QString RecentListPath() {
  QString state = qEnvironmentVariable("XDG_STATE_HOME");
  if (!QDir::isAbsolutePath(state)) state = QDir::homePath() + "/.local/state";
  return state + "/zelkgen/recent-programs";
}

QStringList ReadRecentList() {
  QFile file(RecentListPath());
  if (!file.open(QIODevice::ReadOnly)) return {};
  QStringList paths;
  for (const QByteArray& line : file.readAll().split('\n')) {
    if (!line.isEmpty()) paths << QString::fromUtf8(line);
  }
  return paths;
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
    if (QFileInfo(path).isFile()) existing << path;
  }
  return existing;
}

bool RememberProgram(const QString& path) {
  const QString absolute = QFileInfo(path).absoluteFilePath();
  if (absolute.contains('\n')) return false;  // one path a line
  QStringList paths = ReadRecentList();
  paths.removeAll(absolute);
  paths.prepend(absolute);
  while (paths.size() > kRecentKept) paths.removeLast();
  const QString list = RecentListPath();
  if (!QDir().mkpath(QFileInfo(list).path())) return false;
  QSaveFile file(list);
  if (!file.open(QIODevice::WriteOnly)) return false;
  for (const QString& entry : paths) file.write(entry.toUtf8() + '\n');
  return file.commit();
}

QStringList ProgramsRecentFirst() {
  QStringList programs = RecentPrograms();
  for (const QString& path : ProgramFilesInFolders()) {
    if (!programs.contains(QFileInfo(path).absoluteFilePath())) programs << path;
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
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) {
    *error = path + ": " + file.errorString();
    return false;
  }
  if (file.write(text.data(), static_cast<qint64>(text.size())) !=
      static_cast<qint64>(text.size())) {
    *error = path + ": " + file.errorString();
    file.cancelWriting();
    return false;
  }
  if (!file.commit()) {
    *error = path + ": " + file.errorString();
    return false;
  }
  return true;
}
