#include "message/scratch_file.h"

#include "codec/codec.h"

namespace kelmo {

std::string ScratchFileBytes(std::u16string_view body) {
  std::string bytes = "\r\n";
  bytes += EncodeCp932(body);
  bytes += "\r\n";
  return bytes;
}

}  // namespace kelmo
