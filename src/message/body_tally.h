// The body's measures kept per paragraph. A line break ends a run of double-byte
// characters, so paragraphs are measured on their own and an edit re-measures only
// the paragraphs it touched.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kelmo {

// A place in the body: a unit of a paragraph, or with offset == its length the line
// break after it.
struct BodyPosition {
  std::size_t paragraph = 0;
  std::size_t offset = 0;
  friend bool operator==(const BodyPosition&, const BodyPosition&) = default;
};

class BodyTally {
 public:
  // One empty paragraph, as an empty editor holds.
  BodyTally();

  // Replaces `removed` paragraphs from `first` on with `added` (raw paragraph texts, no
  // separators). Returns false, changing nothing, when the range is not in the body.
  bool Replace(std::size_t first, std::size_t removed, std::span<const std::u16string_view> added);

  std::size_t Paragraphs() const { return m_paragraphs.size(); }
  // LenMbcsRuns of the body with CR LF between paragraphs.
  std::int64_t Bytes() const {
    return m_bytes + 2 * (static_cast<std::int64_t>(m_paragraphs.size()) - 1);
  }
  // CharacterCount of that body.
  std::int64_t Characters() const { return m_characters; }

  // The first unit (or line break) that takes the body's bytes, or its characters, past
  // `budget`; nullopt when the whole body fits. Only the paragraphs up to that place are
  // looked at.
  std::optional<BodyPosition> FirstPastBytes(std::int64_t budget) const;
  std::optional<BodyPosition> FirstPastCharacters(std::int64_t budget) const;

 private:
  struct Paragraph {
    std::u16string text;
    std::int64_t bytes = 0;
    std::int64_t characters = 0;
  };
  static Paragraph Measure(std::u16string_view text);

  std::vector<Paragraph> m_paragraphs;
  // Sums over the paragraphs; the CR LF between them add two bytes and no characters.
  std::int64_t m_bytes = 0;
  std::int64_t m_characters = 0;
};

// A paragraph as it is written and sent: the editor's line and frame separators
// become CR LF, a no-break space a space (what QTextDocument::toPlainText does, with
// CR LF for its LF).
std::u16string PlainParagraph(std::u16string_view raw);

}  // namespace kelmo
