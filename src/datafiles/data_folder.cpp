#include "datafiles/data_folder.h"

#include <chrono>

#include "datafiles/address_file.h"
#include "datafiles/scratch_file.h"

namespace kelmo {

FilePath DataFolder::AddressFile() const { return FilePath::InFolder(m_folder, kAddressFileName); }

FilePath DataFolder::ScratchFile() const { return FilePath::InFolder(m_folder, kScratchFileName); }

void DataFolder::RemoveLeftoverSaves() const {
  // A save whose lock is free and whose window is gone, or which has been stalled that
  // long, is over.
  constexpr std::chrono::seconds kSaveInProgress{60};
  kelmo::RemoveLeftoverSaves(AddressFile(), kSaveInProgress);
  kelmo::RemoveLeftoverSaves(ScratchFile(), kSaveInProgress);
}

}  // namespace kelmo
