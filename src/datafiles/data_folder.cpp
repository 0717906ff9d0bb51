#include "datafiles/data_folder.h"

#include <chrono>

#include "datafiles/address_file.h"
#include "datafiles/scratch_file.h"
#include "fileio/file_io.h"

namespace kelmo {

QString DataFolder::AddressFile() const { return File(kAddressFileName); }

QString DataFolder::ScratchFile() const { return File(kScratchFileName); }

void DataFolder::RemoveLeftoverSaves() const {
  constexpr std::chrono::seconds kSaveInProgress{60};  // younger ones may be another window's
  kelmo::RemoveLeftoverSaves(AddressFile(), kSaveInProgress);
  kelmo::RemoveLeftoverSaves(ScratchFile(), kSaveInProgress);
}

QString DataFolder::File(const QString& name) const {
  return QDir::cleanPath(m_folder.absoluteFilePath(name));
}

}  // namespace kelmo
