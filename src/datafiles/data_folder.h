// The folder Kelmo keeps its two files in: the address file and the scratch file.
#pragma once

#include <QDir>
#include <QString>

#include "fileio/file_io.h"

namespace kelmo {

class DataFolder {
 public:
  explicit DataFolder(const QDir& folder) : m_folder(folder) {}

  // The files as the system is given them (relative to the working directory when the
  // folder is, so that a folder name that is not UTF-8 works), and as messages show them:
  // with the folder.
  FilePath AddressFile() const;
  FilePath ScratchFile() const;
  // Removes what saves of the two files killed before their rename left behind, except
  // what may be another window's save in progress.
  void RemoveLeftoverSaves() const;

 private:
  QDir m_folder;
};

}  // namespace kelmo
