// Feeds arbitrary bytes to the address-file parser, as the start of a file and as a whole file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "datafiles/address_file.h"

namespace {

// A field never gets a line break, more than a line holds, or a character the file does
// not hold (what code page 932 does not define).
void Check(const kelmo::Expected<kelmo::AddressLines, kelmo::AddressFileFault>& parsed) {
  if (!parsed) return;
  for (const std::u16string* line : {&parsed->own, &parsed->recipient}) {
    if (line->size() > kelmo::kMaxAddressLineBytes) std::abort();
    if (line->find_first_of(u"\r\n\uFFFD") != std::u16string::npos) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  Check(kelmo::ParseAddressFile(bytes, true));
  Check(kelmo::ParseAddressFile(bytes, false));
  return 0;
}
