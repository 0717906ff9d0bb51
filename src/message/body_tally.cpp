#include "message/body_tally.h"

#include <algorithm>
#include <string>

#include "codec/codec.h"
#include "codec/line_breaks.h"
#include "measure/char_count.h"
#include "measure/mbcs.h"

namespace kelmo {
namespace {

bool IsLineBreak(char16_t unit) { return unit == u'\n' || IsEditorLineBreak(unit); }

bool NeedsPlainForm(std::u16string_view raw) {
  return std::ranges::any_of(raw,
                             [](char16_t unit) { return IsLineBreak(unit) || unit == u'\u00A0'; });
}

// Bytes up to and including each unit of a paragraph, as LenMbcsRuns of its plain form
// counts them, until they pass `budget`; the offset of that unit, or the paragraph's length.
std::size_t FirstPastBytesIn(std::u16string_view text, std::int64_t budget) {
  const Cp932Widths& widths = Cp932WidthTable();
  MbcsSize used;
  bool previousDouble = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    const bool isDouble = !IsLineBreak(unit) && unit != u'\u00A0' && widths.IsDoubleByte(unit);
    used.bytes += IsLineBreak(unit) || isDouble ? 2 : 1;
    used.runs += isDouble && !previousDouble ? 1 : 0;
    previousDouble = isDouble;
    if (LenMbcsRuns(used) > budget) return i;
  }
  return text.size();
}

// The same for characters: line breaks and CR count nothing.
std::size_t FirstPastCharactersIn(std::u16string_view text, std::int64_t budget) {
  std::int64_t used = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (IsLineBreak(text[i]) || text[i] == u'\r') continue;
    if (++used > budget) return i;
  }
  return text.size();
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

BodyTally::Paragraph BodyTally::Measure(std::u16string_view text) {
  if (NeedsPlainForm(text)) {
    const std::u16string plain = PlainParagraph(text);
    return {std::u16string(text), LenMbcsRuns(plain), CharacterCount(plain)};
  }
  return {std::u16string(text), LenMbcsRuns(text), CharacterCount(text)};
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
    m_paragraphs.insert(at + static_cast<std::ptrdiff_t>(removed), added.size() - removed,
                        Paragraph{});
  }
  for (std::size_t k = 0; k < added.size(); ++k) {
    Paragraph& paragraph = m_paragraphs[first + k];
    paragraph = Measure(added[k]);
    m_bytes += paragraph.bytes;
    m_characters += paragraph.characters;
  }
  return true;
}

std::optional<BodyPosition> BodyTally::FirstPastBytes(std::int64_t budget) const {
  std::int64_t used = 0;
  for (std::size_t p = 0; p < m_paragraphs.size(); ++p) {
    if (p > 0) {
      used += 2;  // the CR LF before this paragraph
      if (used > budget) return BodyPosition{p - 1, m_paragraphs[p - 1].text.size()};
    }
    if (used + m_paragraphs[p].bytes > budget) {
      return BodyPosition{p, FirstPastBytesIn(m_paragraphs[p].text, budget - used)};
    }
    used += m_paragraphs[p].bytes;
  }
  return std::nullopt;
}

std::optional<BodyPosition> BodyTally::FirstPastCharacters(std::int64_t budget) const {
  if (budget < 0) return BodyPosition{};
  std::int64_t used = 0;
  for (std::size_t p = 0; p < m_paragraphs.size(); ++p) {
    if (used + m_paragraphs[p].characters > budget) {
      return BodyPosition{p, FirstPastCharactersIn(m_paragraphs[p].text, budget - used)};
    }
    used += m_paragraphs[p].characters;
  }
  return std::nullopt;
}

}  // namespace kelmo
