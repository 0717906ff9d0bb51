// The split against what it promises, for bodies made of whole characters (a byte picks
// each from an alphabet of plain, double-byte, half-width, emoji, marked and joined
// characters, punctuation and line breaks) and message limits small enough that short
// bodies take many parts: every part fits by the reference measure and carries its marker;
// the shares join back into the body with at most a line break dropped at a cut; no cut
// falls inside a character; and the count is the fewest a search of every way to cut
// finds, or at most one more.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "measure/mbcs.h"
#include "message/limits.h"
#include "message/split.h"
#include "support/text.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// Whole characters as a reader sees them: no cut may fall inside one.
const std::u16string_view kAlphabet[] = {
    u"a",        u"b",
    u" ",        u"あ",
    u"漢",       u"ｶ",
    u"ｶﾞ",       u"😀",
    u"👍🏽", u"👨‍👩‍👧",
    u"🇯🇵",       u"e\u0301",
    u"#\uFE0F",  u"葛\U000E0100",
    u"。",       u"、",
    u"!",        u"?",
    u"．",       u"」",
    u"\r\n",     u"\n",
    u"\xD83D",   u"｡",
};
const std::u16string_view kOwn[] = {u"", u"me@example.jp",
                                    u"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa",
                                    u"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"};
const std::u16string_view kSubject[] = {u"", u"件名", u"ｹﾝﾒｲ",
                                        u"漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢"};

// Units of the line break at `at` that a cut there may drop.
std::size_t BreakAt(std::u16string_view body, std::size_t at) {
  if (at >= body.size()) return 0;
  if (body[at] == u'\r') return at + 1 < body.size() && body[at + 1] == u'\n' ? 2 : 1;
  return body[at] == u'\n' ? 1 : 0;
}

// Whether `count` parts (or fewer, with that count's markers) can carry the body, cutting
// only at `cuts`, by trying every way.
bool Feasible(std::u16string_view body, const std::vector<std::size_t>& cuts,
              const std::vector<bool>& isCut, std::size_t count, std::int64_t fixed,
              std::int64_t limit) {
  std::vector<bool> begins(body.size() + 1, false);
  begins[0] = true;
  for (std::size_t part = 1; part <= count; ++part) {
    const std::int64_t room =
        limit - fixed - kelmo::LenMbcsRuns(kelmo::PartMarker(part, count) + u"\r\n");
    std::vector<bool> next(body.size() + 1, false);
    bool any = false;
    for (const std::size_t begin : cuts) {
      if (!begins[begin]) continue;
      for (const std::size_t end : cuts) {
        if (end <= begin) continue;
        if (kelmo::LenMbcsRuns(body.substr(begin, end - begin)) > room) break;
        if (end == body.size()) return true;
        next[end] = any = true;
        const std::size_t units = BreakAt(body, end);
        if (units > 0 && end + units < body.size() && isCut[end + units]) next[end + units] = true;
      }
    }
    if (!any) return false;
    begins.swap(next);
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::u16string_view own = kOwn[data[0] % std::size(kOwn)];
  const std::u16string_view subject = kSubject[(data[0] / std::size(kOwn)) % std::size(kSubject)];
  std::u16string body;
  std::vector<std::size_t> cuts{0};
  for (std::size_t i = 2; i < size; ++i) {
    body += kAlphabet[data[i] % std::size(kAlphabet)];
    cuts.push_back(body.size());
  }
  std::vector<bool> isCut(body.size() + 1, false);
  for (const std::size_t at : cuts) isCut[at] = true;

  const std::int64_t addressCount = kelmo::testing::ReferenceLenMbcs(own);
  const std::int64_t subjectCount = kelmo::testing::ReferenceLenMbcsRuns(subject);
  const std::int64_t fixed = kelmo::MessageTotal(0, addressCount, subjectCount);
  // The service's limit, or one that leaves a part 10 to 73 bytes for its share: room for
  // the longest character of the alphabet, and for many parts from a short body.
  const std::int64_t limit =
      data[1] >= 0xF0 ? kelmo::kTariff.messageLimit : fixed + 9 + 10 + data[1] % 64;

  const auto parts = kelmo::SplitMessage(body, own, subject, limit);
  if (addressCount > kelmo::kTariff.addressLimit) {
    Check(!parts && parts.error() == kelmo::SplitProblem::kAddressTooLong);
    return 0;
  }
  if (subjectCount > kelmo::kTariff.subjectLimit) {
    Check(!parts && parts.error() == kelmo::SplitProblem::kSubjectTooLong);
    return 0;
  }
  const bool fits = fixed + kelmo::testing::ReferenceLenMbcsRuns(body) <= limit;
  if (!parts) {
    Check(!fits && parts.error() == kelmo::SplitProblem::kTooManyParts);
    if (body.size() <= 400) {
      Check(!Feasible(body, cuts, isCut, kelmo::kMostParts, fixed, limit));
    }
    return 0;
  }
  if (fits) {
    Check(parts->size() == 1 && parts->front().body == body);
    return 0;
  }

  const std::size_t count = parts->size();
  Check(count >= 2 && count <= kelmo::kMostParts);
  std::size_t reached = 0;
  for (std::size_t k = 0; k < count; ++k) {
    const kelmo::MessagePart& part = (*parts)[k];
    Check(part.shareBegin < part.shareEnd && part.shareEnd <= body.size());
    Check(isCut[part.shareBegin] && isCut[part.shareEnd]);
    // Joined back: nothing between two shares but the line break the cut was made at.
    const std::u16string_view gap =
        std::u16string_view(body).substr(reached, part.shareBegin - reached);
    Check(gap.empty() || (k > 0 && (gap == u"\r\n" || gap == u"\n")));
    reached = part.shareEnd;
    Check(part.body == kelmo::PartMarker(k + 1, count) + u"\r\n" +
                           body.substr(part.shareBegin, part.shareEnd - part.shareBegin));
    const std::int64_t total = fixed + kelmo::testing::ReferenceLenMbcsRuns(part.body);
    Check(part.total == total && total <= limit);
  }
  Check(reached == body.size());

  if (body.size() <= 400) {
    Check(!Feasible(body, cuts, isCut, count - 1, fixed, limit));
  }
  return 0;
}
