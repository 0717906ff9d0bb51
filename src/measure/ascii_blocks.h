// The ASCII part of the UTF-8 measure: whole 64-byte blocks at a time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kelmo {

inline constexpr std::size_t kAsciiBlock = 64;

struct AsciiBlocks {
  std::size_t length = 0;  // bytes taken
  std::int64_t bytes = 0;  // what they measure, every line break as CR LF
  bool endsInCr = false;
};

// Measures whole 64-byte blocks of ASCII at p, stopping before one that holds any other
// byte or at the last full block; afterCr tells whether the byte before p was a CR.
AsciiBlocks TakeAsciiBlocks(const unsigned char* p, std::size_t size, bool afterCr);

// The two ways TakeAsciiBlocks chooses from: eight bytes to a 64-bit word on any CPU,
// and AVX2 (with POPCNT) where HasAvx2().
AsciiBlocks TakeAsciiBlocksInWords(const unsigned char* p, std::size_t size, bool afterCr);
#if defined(__x86_64__)
AsciiBlocks TakeAsciiBlocksAvx2(const unsigned char* p, std::size_t size, bool afterCr);
#endif
bool HasAvx2();

}  // namespace kelmo
