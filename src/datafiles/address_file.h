// The address file: own address and recipient, one line each, in code page 932.
#pragma once

#include <QString>
#include <string>
#include <string_view>

#include "error/error.h"
#include "fileio/file_io.h"

namespace kelmo {

inline const QString kAddressFileName = QStringLiteral("kelmo.ini");

// Far beyond any address; longer lines are refused rather than loaded.
inline constexpr std::size_t kMaxAddressLineBytes = 4096;

// The address file's own failures, apart from the system's errno values.
enum class AddressFileError : int {
  kTooFewLines = 1001,  // fewer than the two lines an address file holds
  kLineTooLong = 1002,  // a line longer than any address can be
  kNotText = 1003,      // control characters: not a text file
  kNotStorable = 1004,  // characters that would not come back as they were
  kNotShiftJis = 1007,  // bytes that are not code page 932, or a line in UTF-8
};

struct AddressPair {
  QString own;
  QString recipient;
};

// What the first two lines of an address file hold, or why they hold no addresses.
// A line ends at CR LF, CR or LF. `wholeFile` is false when `bytes` is only the start.
// A line is taken as UTF-8, and refused, when it starts the file with a UTF-8 byte order
// mark or is well-formed UTF-8 with a character outside ASCII: code page 932 text rarely
// is (only a run of half-width katakana can be), and reading UTF-8 as code page 932 would
// fill a field with characters the file does not hold.
struct AddressLines {
  std::u16string own;
  std::u16string recipient;
};
struct AddressFileFault {
  AddressFileError error;
  int line = 0;       // kNotShiftJis: the line, from 1
  bool utf8 = false;  // kNotShiftJis: the line is UTF-8
};
Expected<AddressLines, AddressFileFault> ParseAddressFile(std::string_view bytes, bool wholeFile);

// The file's bytes for a pair of addresses.
std::string AddressFileBytes(std::u16string_view own, std::u16string_view recipient);

// The characters of `text` that a line of the file cannot bring back as they were: those
// code page 932 cannot hold or holds as another character, and control characters, TAB
// too: one rule for all of them.
std::u16string NotKeptInAddressFile(std::u16string_view text);

// Refuses addresses that would not load back exactly as they are, leaving the file as it
// was.
Result<> SaveAddresses(const FilePath& path, const AddressPair& addresses);
Result<AddressPair> LoadAddresses(const FilePath& path);

}  // namespace kelmo
