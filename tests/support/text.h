// Random texts for property tests, and an independent measure to hold the code to.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <string_view>

namespace kelmo::testing {

// Texts drawn from an alphabet by a seeded generator, the same on every run. A surrogate
// pair in the alphabet is drawn as one character.
class RandomText {
 public:
  explicit RandomText(std::uint32_t seed) : m_random(seed) {}
  // A number from 0 to `most`.
  std::size_t Upto(std::size_t most) {
    return std::uniform_int_distribution<std::size_t>(0, most)(m_random);
  }
  // `characters` characters of the alphabet.
  std::u16string From(std::u16string_view alphabet, std::size_t characters);

 private:
  std::mt19937 m_random;
};

// LenMbcsRuns the way it is described: code page 932 bytes of each code unit on its own
// (through glibc iconv directly, apart from the codec), plus 6 where a double-byte unit
// follows a single-byte one or starts the text.
std::int64_t ReferenceLenMbcsRuns(std::u16string_view text);
// Its bytes only: LenMbcs.
std::int64_t ReferenceLenMbcs(std::u16string_view text);

}  // namespace kelmo::testing
