#include "measure/ascii_blocks.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "support/text.h"

namespace kelmo {
namespace {

using Kernel = std::function<AsciiBlocks(const unsigned char*, std::size_t, bool)>;

// Every kernel this CPU can run; the portable one always.
std::vector<std::pair<const char*, Kernel>> Kernels() {
  std::vector<std::pair<const char*, Kernel>> kernels = {{"words", TakeAsciiBlocksInWords}};
#if defined(__x86_64__)
  if (HasAvx2()) kernels.emplace_back("avx2", TakeAsciiBlocksAvx2);
#endif
  return kernels;
}

AsciiBlocks Take(const Kernel& kernel, std::string_view text, bool afterCr = false) {
  return kernel(reinterpret_cast<const unsigned char*>(text.data()), text.size(), afterCr);
}

// The definition, a byte at a time.
std::int64_t ReferenceBytes(std::string_view text, bool afterCr) {
  std::int64_t bytes = 0;
  for (const char c : text) {
    bytes += c == '\n' && afterCr ? 0 : (c == '\r' || c == '\n') ? 2 : 1;
    afterCr = c == '\r';
  }
  return bytes;
}

TEST(ascii_blocks, whole_blocks_only_and_none_with_other_bytes) {
  for (const auto& [name, kernel] : Kernels()) {
    EXPECT_EQ(Take(kernel, std::string(63, 'a')).length, 0u) << name;
    EXPECT_EQ(Take(kernel, std::string(130, 'a')).length, 128u) << name;
    std::string text(192, 'a');
    text[100] = '\x80';  // the second block is not ASCII: only the first is taken
    EXPECT_EQ(Take(kernel, text).length, 64u) << name;
    text[5] = '\xe3';
    EXPECT_EQ(Take(kernel, text).length, 0u) << name;
  }
}

TEST(ascii_blocks, line_breaks_across_bytes_and_blocks) {
  for (const auto& [name, kernel] : Kernels()) {
    std::string block(64, 'a');
    block[63] = '\r';  // a CR ending the block, its LF opening the next
    std::string text = block + "\n" + std::string(63, 'b');
    AsciiBlocks taken = Take(kernel, text);
    EXPECT_EQ(taken.bytes, ReferenceBytes(text, false)) << name;
    EXPECT_FALSE(taken.endsInCr) << name;
    taken = Take(kernel, block);
    EXPECT_TRUE(taken.endsInCr) << name;
    // The CR came before the block.
    EXPECT_EQ(Take(kernel, "\n" + std::string(63, 'c'), true).bytes, 63) << name;
  }
}

TEST(ascii_blocks, random_text_as_the_definition_says) {
  testing::RandomText random(64);
  const char alphabet[] = {'a', ' ', '\r', '\n', '\n', '\t', '\0', '\x7f'};
  for (int round = 0; round < 500; ++round) {
    std::string text(64 * (1 + random.Upto(7)), '\0');
    for (char& c : text) c = alphabet[random.Upto(std::size(alphabet) - 1)];
    const bool afterCr = random.Upto(1) != 0;
    for (const auto& [name, kernel] : Kernels()) {
      const AsciiBlocks taken = Take(kernel, text, afterCr);
      ASSERT_EQ(taken.length, text.size()) << name;
      ASSERT_EQ(taken.bytes, ReferenceBytes(text, afterCr)) << name << " round " << round;
      ASSERT_EQ(taken.endsInCr, text.back() == '\r') << name;
    }
  }
}

}  // namespace
}  // namespace kelmo
