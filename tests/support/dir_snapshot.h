// What a folder holds, to compare before and after an operation: every entry's kind,
// identity, length, time and bytes (a link: where it points).
#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <algorithm>
#include <map>
#include <string>

namespace kelmo::testing {

inline std::map<std::string, std::string> DirSnapshot(const char* folder = ".") {
  std::map<std::string, std::string> entries;
  DIR* dir = ::opendir(folder);
  if (dir == nullptr) return entries;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = std::string(folder) + "/" + name;
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) continue;
    std::string state = std::to_string(status.st_mode) + " " + std::to_string(status.st_ino) + " " +
                        std::to_string(status.st_size) + " " +
                        std::to_string(status.st_mtim.tv_sec) + "." +
                        std::to_string(status.st_mtim.tv_nsec);
    if (S_ISREG(status.st_mode)) {
      QFile file(QFile::decodeName(path.c_str()));
      state += " " + (file.open(QIODevice::ReadOnly) ? file.readAll() : "?").toStdString();
    }
    if (S_ISLNK(status.st_mode)) {
      char target[256] = {};
      const ssize_t length = ::readlink(path.c_str(), target, sizeof target);
      state += " -> " + std::string(target, static_cast<std::size_t>(std::max<ssize_t>(0, length)));
    }
    entries[name] = state;
  }
  ::closedir(dir);
  return entries;
}

}  // namespace kelmo::testing
