#include "message/split.h"

#include <algorithm>
#include <array>
#include <optional>
#include <utility>

#include "codec/utf8.h"
#include "measure/mbcs.h"
#include "message/limits.h"

namespace kelmo {
namespace {

// NOLINTBEGIN(readability-magic-numbers): code points are the data here
struct CodeRange {
  char32_t first;
  char32_t last;
};
constexpr CodeRange kExtenders[] = {
#include "message/extenders.inc"
};

// Whether the code point belongs to the character before it: a mark (variation selectors
// included), ZWNJ, a half-width voiced sound mark, a skin tone or a tag.
bool IsExtender(char32_t c) {
  if (c < kExtenders[0].first) return false;
  const auto* after = std::upper_bound(std::begin(kExtenders), std::end(kExtenders), c,
                                       [](char32_t x, const CodeRange& r) { return x < r.first; });
  return after != std::begin(kExtenders) && c <= std::prev(after)->last;
}

constexpr char32_t kZwj = 0x200D;
bool IsRegionalIndicator(char32_t c) { return c >= 0x1F1E6 && c <= 0x1F1FF; }

bool IsSentenceEnd(char16_t unit) {
  return std::u16string_view(u"。．！？!?｡").find(unit) != std::u16string_view::npos;
}
bool IsComma(char16_t unit) { return unit == u'、' || unit == u'､'; }
// What closes a quotation or an aside: a cut after 。 goes after the 」 that follows it.
bool IsCloser(char16_t unit) {
  return std::u16string_view(u"」』）)］]】〕〉》｣\"'”’").find(unit) != std::u16string_view::npos;
}
// NOLINTEND(readability-magic-numbers)

// The places in a body where a part may end.
class Cuts {
 public:
  explicit Cuts(std::u16string_view body) : m_body(body), m_kind(body.size() + 1, kCluster) {
    char32_t previous = 0;
    std::size_t indicators = 0;  // regional indicators right before: flags pair them up
    for (std::size_t i = 0; i < body.size();) {
      const std::size_t units = CharacterUnits(body, i);
      const char32_t c = units == 2 ? 0x10000 + ((char32_t{body[i]} - 0xD800) << 10) +
                                          (char32_t{body[i + 1]} - 0xDC00)
                                    : char32_t{body[i]};
      if (units == 2) m_kind[i + 1] = kInside;
      if (i > 0) {
        if (previous == u'\r' && c == u'\n') {
          m_kind[i] = kInside;
        } else if (c == u'\r' || c == u'\n' || previous == u'\r' || previous == u'\n') {
          // before and after a line break always
        } else if (IsExtender(c) || c == kZwj || previous == kZwj ||
                   (IsRegionalIndicator(c) && indicators % 2 == 1)) {
          m_kind[i] = kCodePoint;
        }
      }
      indicators = IsRegionalIndicator(c) ? indicators + 1 : 0;
      previous = c;
      i += units;
    }
  }

  std::size_t Size() const { return m_body.size(); }
  // Between two characters as a reader sees them.
  bool Cluster(std::size_t at) const { return m_kind[at] == kCluster; }
  // Not inside a surrogate pair or a CR LF.
  bool CodePoint(std::size_t at) const { return m_kind[at] != kInside; }
  // Units of the line break starting at `at`: 2 for CR LF, 1 for a lone CR or LF, else 0.
  std::size_t BreakAt(std::size_t at) const {
    if (at >= m_body.size()) return 0;
    if (m_body[at] == u'\r') return at + 1 < m_body.size() && m_body[at + 1] == u'\n' ? 2 : 1;
    return m_body[at] == u'\n' ? 1 : 0;
  }
  // Units of the line break ending at `at`.
  std::size_t BreakBefore(std::size_t at) const {
    if (at == 0) return 0;
    if (m_body[at - 1] == u'\n') return at >= 2 && m_body[at - 2] == u'\r' ? 2 : 1;
    return m_body[at - 1] == u'\r' && BreakAt(at - 1) == 1 ? 1 : 0;
  }
  // Where the next share starts after a share ending at `end`: past the line break there,
  // unless the break is all that is left, which then is a share of its own.
  std::size_t NextStart(std::size_t end) const {
    const std::size_t units = BreakAt(end);
    return units > 0 && end + units < m_body.size() ? end + units : end;
  }

  // LenMbcsRuns of the units [begin, end): what a share costs in a part.
  std::int64_t Cost(std::size_t begin, std::size_t end) const {
    return LenMbcsRuns(m_body.substr(begin, end - begin));
  }

  // The latest place a share from `begin` may end within `room` bytes, at a character's
  // end if one fits, else at a code point's; nullopt when not even one code point fits.
  std::optional<std::size_t> Fill(std::size_t begin, std::int64_t room) const {
    // Every unit takes a byte at least, so the end is within `room` units.
    std::size_t low = begin;  // fits
    std::size_t high =
        std::min(m_body.size(), begin + static_cast<std::size_t>(std::max<std::int64_t>(room, 0)));
    if (room < 0) return std::nullopt;
    while (low < high) {
      const std::size_t middle = low + (high - low + 1) / 2;
      if (Cost(begin, middle) <= room) {
        low = middle;
      } else {
        high = middle - 1;
      }
    }
    while (low > begin && !CodePoint(low)) --low;
    std::size_t end = low;
    while (end > begin && !Cluster(end)) --end;
    if (end > begin) return end;
    if (low > begin) return low;  // a character longer than a part: cut between its code points
    return std::nullopt;
  }

  // The earliest place a share ending at `end` may begin within `room` bytes, the
  // counterpart of Fill.
  std::optional<std::size_t> FillBack(std::size_t end, std::int64_t room) const {
    if (room < 0) return std::nullopt;
    std::size_t low = end - std::min(end, static_cast<std::size_t>(room));
    std::size_t high = end;  // fits
    while (low < high) {
      const std::size_t middle = low + (high - low) / 2;
      if (Cost(middle, end) <= room) {
        high = middle;
      } else {
        low = middle + 1;
      }
    }
    while (high < end && !CodePoint(high)) ++high;
    std::size_t begin = high;
    while (begin < end && !Cluster(begin)) ++begin;
    if (begin < end) return begin;
    if (high < end) return high;
    return std::nullopt;
  }

  // The earliest place from `begin` on whose share costs `least` or more; `end` if none
  // before it does.
  std::size_t FirstCosting(std::size_t begin, std::size_t end, std::int64_t least) const {
    std::size_t low = begin;
    std::size_t high = end;
    while (low < high) {
      const std::size_t middle = low + (high - low) / 2;
      if (Cost(begin, middle) >= least) {
        high = middle;
      } else {
        low = middle + 1;
      }
    }
    return low;
  }

  std::u16string_view Body() const { return m_body; }

 private:
  enum Kind : std::uint8_t { kInside, kCodePoint, kCluster };
  std::u16string_view m_body;
  std::vector<Kind> m_kind;
};

struct Share {
  std::size_t begin;
  std::size_t end;
};

// What every part carries besides its share: the fields, the fixed bytes, the marker and
// its line break.
class Rooms {
 public:
  Rooms(std::int64_t addressCount, std::int64_t subjectCount, std::int64_t messageLimit)
      : m_addressCount(addressCount), m_subjectCount(subjectCount), m_limit(messageLimit) {}

  // Bytes left for the share of part `number` of `count`.
  std::int64_t For(std::size_t number, std::size_t count) const {
    return m_limit - MessageTotal(LenMbcsRuns(PartMarker(number, count) + u"\r\n"), m_addressCount,
                                  m_subjectCount);
  }

 private:
  std::int64_t m_addressCount;
  std::int64_t m_subjectCount;
  std::int64_t m_limit;
};

// Shares as long as they fit, for `count` parts (or, while the count is not known yet, any
// count with as many digits): the fewest there can be.
Expected<std::vector<Share>, SplitProblem> FillEach(const Cuts& cuts, const Rooms& rooms,
                                                    std::size_t count) {
  std::vector<Share> shares;
  std::size_t begin = 0;
  while (begin < cuts.Size() || shares.empty()) {
    if (shares.size() == count) return SplitProblem::kTooManyParts;
    const std::optional<std::size_t> end = cuts.Fill(begin, rooms.For(shares.size() + 1, count));
    if (!end) return SplitProblem::kNoRoom;
    shares.push_back({begin, *end});
    begin = cuts.NextStart(*end);
  }
  return shares;
}

// For each part, how far the parts before it must reach: the shares filled from the end.
// When the part's share begins there or later, it and the parts after it take the rest of
// the body. reach[count] is the body's end.
std::vector<std::size_t> MustReach(const Cuts& cuts, const Rooms& rooms, std::size_t count) {
  std::vector<std::size_t> reach(count + 1, 0);
  reach[count] = cuts.Size();
  std::size_t end = cuts.Size();
  for (std::size_t part = count; part > 0 && end > 0; --part) {
    const std::optional<std::size_t> begin = cuts.FillBack(end, rooms.For(part, count));
    if (!begin) {
      // Not when the shares filled forward fit; then no cut is preferred.
      std::fill(reach.begin(), reach.end() - 1, cuts.Size());
      return reach;
    }
    reach[part - 1] = *begin;
    end = *begin - cuts.BreakBefore(*begin);
  }
  return reach;
}

// The shares with the cuts a reader expects, where they keep to `count` parts; nullopt
// when they would not.
std::optional<std::vector<Share>> PreferredShares(const Cuts& cuts, const Rooms& rooms,
                                                  std::size_t count) {
  const std::vector<std::size_t> reach = MustReach(cuts, rooms, count);
  const std::u16string_view body = cuts.Body();
  std::vector<Share> shares;
  std::size_t begin = 0;
  for (std::size_t part = 1; part <= count; ++part) {
    const std::int64_t room = rooms.For(part, count);
    if (cuts.Cost(begin, body.size()) <= room) {
      shares.push_back({begin, body.size()});
      return shares;
    }
    const std::optional<std::size_t> full = cuts.Fill(begin, room);
    if (!full) return std::nullopt;
    // "Close enough" to the end of a full part: in the last quarter of its room.
    const std::size_t from = std::max(begin + 1, cuts.FirstCosting(begin, *full, room - room / 4));
    const auto keeps = [&](std::size_t next) { return next >= reach[part]; };

    std::optional<std::size_t> end;
    for (std::size_t at = *full; at >= from && !end; --at) {  // a line break
      if (cuts.Cluster(at) && cuts.BreakAt(at) > 0 && cuts.NextStart(at) > at) {
        if (keeps(cuts.NextStart(at))) end = at;
        break;
      }
    }
    for (const auto isMark : {IsSentenceEnd, IsComma}) {
      for (std::size_t at = *full; at >= from && !end; --at) {
        if (cuts.Cluster(at) && isMark(body[at - 1])) {
          while (at < *full && IsCloser(body[at]) && cuts.Cluster(at + 1)) ++at;
          if (keeps(at)) end = at;
          break;
        }
      }
    }
    if (!end) end = full;
    shares.push_back({begin, *end});
    begin = cuts.NextStart(*end);
  }
  return std::nullopt;
}

}  // namespace

std::u16string PartMarker(std::size_t number, std::size_t count) {
  const std::string marker = '(' + std::to_string(number) + '/' + std::to_string(count) + ')';
  return {marker.begin(), marker.end()};
}

Expected<std::vector<MessagePart>, SplitProblem> SplitMessage(std::u16string_view body,
                                                              std::u16string_view own,
                                                              std::u16string_view subject,
                                                              std::int64_t messageLimit) {
  const ByteModeCount counts = CountInByteMode(LenMbcsRuns(body), own, subject);
  const std::int64_t addressCount = counts.addressCount;
  const std::int64_t subjectCount = counts.subjectCount;
  if (addressCount > kTariff.addressLimit) return SplitProblem::kAddressTooLong;
  if (subjectCount > kTariff.subjectLimit) return SplitProblem::kSubjectTooLong;
  const std::int64_t whole = counts.total;
  if (whole <= messageLimit) {
    return std::vector<MessagePart>{{std::u16string(body), 0, body.size(), whole}};
  }

  // The marker's width depends on the count's digits: the count is found with one digit
  // assumed, then with two.
  const Cuts cuts(body);
  const Rooms rooms(addressCount, subjectCount, messageLimit);
  constexpr std::size_t kMostOneDigit = 9;
  Expected<std::vector<Share>, SplitProblem> shares = FillEach(cuts, rooms, kMostOneDigit);
  if (!shares && shares.error() == SplitProblem::kTooManyParts) {
    shares = FillEach(cuts, rooms, kMostParts);
  }
  if (!shares) return shares.error();
  const std::size_t count = shares->size();
  std::vector<Share> chosen = std::move(shares).value();
  // The preferred cuts where they keep the count, which they do unless something is amiss.
  if (auto preferred = PreferredShares(cuts, rooms, count);
      preferred && preferred->size() == count) {
    chosen = *std::move(preferred);
  }

  std::vector<MessagePart> parts;
  parts.reserve(count);
  for (std::size_t k = 0; k < count; ++k) {
    const Share& share = chosen[k];
    MessagePart part;
    part.body = PartMarker(k + 1, count) + u"\r\n";
    part.body.append(body.substr(share.begin, share.end - share.begin));
    part.shareBegin = share.begin;
    part.shareEnd = share.end;
    part.total = MessageTotal(LenMbcsRuns(part.body), addressCount, subjectCount);
    parts.push_back(std::move(part));
  }
  return parts;
}

}  // namespace kelmo
