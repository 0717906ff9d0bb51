// The folder Kelmo keeps its two files in: the address file and the scratch file.
#pragma once

#include <QDir>
#include <QString>

namespace kelmo {

class DataFolder {
 public:
  explicit DataFolder(const QDir& folder) : m_folder(folder) {}

  // Full paths, so that messages name the folder too.
  QString AddressFile() const;
  QString ScratchFile() const;
  // Removes what saves of the two files killed before their rename left behind, except
  // what may be another window's save in progress.
  void RemoveLeftoverSaves() const;

 private:
  QString File(const QString& name) const;

  QDir m_folder;
};

}  // namespace kelmo
