#include "message/body_tally.h"

#include <string>

#include "measure/char_count.h"
#include "measure/mbcs.h"

namespace kelmo {
namespace {

bool IsLineBreak(char16_t unit) {
  return unit == u'\n' || unit == u'\u2028' || unit == u'\u2029' || unit == u'\uFDD0' ||
         unit == u'\uFDD1';
}

bool NeedsPlainForm(std::u16string_view raw) {
  for (const char16_t unit : raw) {
    if (IsLineBreak(unit) || unit == u'\u00A0') return true;
  }
  return false;
}

}  // namespace

std::u16string PlainParagraph(std::u16string_view raw) {
  std::u16string plain;
  plain.reserve(raw.size());
  for (const char16_t unit : raw) {
    if (IsLineBreak(unit)) {
      plain += u"\r\n";
    } else {
      plain += unit == u'\u00A0' ? u' ' : unit;
    }
  }
  return plain;
}

BodyTally::BodyTally() : m_paragraphs(1) {}

BodyTally::Size BodyTally::Measure(std::u16string_view paragraph) {
  if (NeedsPlainForm(paragraph)) {
    const std::u16string plain = PlainParagraph(paragraph);
    return {LenMbcsRuns(plain), CharacterCount(plain)};
  }
  return {LenMbcsRuns(paragraph), CharacterCount(paragraph)};
}

bool BodyTally::Replace(std::size_t first, std::size_t removed,
                        std::span<const std::u16string_view> added) {
  if (first > m_paragraphs.size() || removed > m_paragraphs.size() - first) return false;
  if (m_paragraphs.size() - removed + added.size() == 0) return false;  // a body has a paragraph

  for (std::size_t i = first; i < first + removed; ++i) {
    m_bytes -= m_paragraphs[i].bytes;
    m_characters -= m_paragraphs[i].characters;
  }
  const auto at = m_paragraphs.begin() + static_cast<std::ptrdiff_t>(first);
  if (removed > added.size()) {
    m_paragraphs.erase(at + static_cast<std::ptrdiff_t>(added.size()),
                       at + static_cast<std::ptrdiff_t>(removed));
  } else if (removed < added.size()) {
    m_paragraphs.insert(at + static_cast<std::ptrdiff_t>(removed), added.size() - removed, Size{});
  }
  for (std::size_t k = 0; k < added.size(); ++k) {
    const Size size = Measure(added[k]);
    m_paragraphs[first + k] = size;
    m_bytes += size.bytes;
    m_characters += size.characters;
  }
  return true;
}

}  // namespace kelmo
