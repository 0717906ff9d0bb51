// The address file: own address and recipient, one line each, in code page 932.
#pragma once

#include <QString>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "fileio/file_error.h"

namespace kelmo {

inline const QString kAddressFileName = QStringLiteral("kelmo.ini");

// Far beyond any address; longer lines are refused rather than loaded.
inline constexpr std::size_t kMaxAddressLineBytes = 4096;

struct AddressPair {
  QString own;
  QString recipient;
};

// What the first two lines of an address file hold, or which FileErrorNumber applies.
// A line ends at CR LF, CR or LF. `wholeFile` is false when `bytes` is only the start.
struct ParsedAddresses {
  int error = 0;
  std::u16string own;
  std::u16string recipient;
};
ParsedAddresses ParseAddressFile(std::string_view bytes, bool wholeFile);

// The file's bytes for a pair of addresses.
std::string AddressFileBytes(std::u16string_view own, std::u16string_view recipient);

// Refuses addresses with characters code page 932 cannot hold, leaving the file as it was.
std::optional<FileError> SaveAddresses(const QString& path, const AddressPair& addresses);
std::variant<AddressPair, FileError> LoadAddresses(const QString& path);

}  // namespace kelmo
