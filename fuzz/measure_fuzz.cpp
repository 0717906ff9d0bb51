// The byte measure against its definition: arbitrary UTF-16 (lone surrogates included)
// measured as a whole and per paragraph, against a conversion of one code unit at a time
// made directly with glibc iconv, apart from Kelmo's codec; and every kernel against the
// scalar one.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "codec/codec.h"
#include "measure/kernels.h"
#include "measure/mbcs.h"
#include "message/body_tally.h"
#include "support/text.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t split = data[0];  // where an Enter goes, for the per-paragraph measure
  std::u16string text((size - 1) / 2, u'\0');
  std::memcpy(text.data(), data + 1, text.size() * 2);

  const std::int64_t bytes = kelmo::testing::ReferenceLenMbcs(text);
  Check(kelmo::LenMbcs(text) == bytes);
  Check(kelmo::LenMbcsRuns(text) == kelmo::testing::ReferenceLenMbcsRuns(text));
  Check(static_cast<std::int64_t>(kelmo::EncodeCp932(text).size()) == bytes);
  // Every kernel this CPU has, not only the one chosen, gives what the scalar code gives.
  const kelmo::MbcsSize scalar = kelmo::MeasureMbcs(text, kelmo::Kernel::kScalar);
  for (const kelmo::Kernel kernel : kelmo::AvailableKernels()) {
    Check(kelmo::MeasureMbcs(text, kernel) == scalar);
  }

  // The window's way: the editor's paragraphs (split at U+2029), measured one by one,
  // then one paragraph split in two as by Enter.
  std::vector<std::u16string> paragraphs;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find(u'\u2029', start)) != std::u16string::npos;
       start = end + 1) {
    paragraphs.push_back(text.substr(start, end - start));
  }
  paragraphs.push_back(text.substr(start));
  auto plainBody = [&] {
    std::u16string body;
    for (std::size_t i = 0; i < paragraphs.size(); ++i) {
      if (i > 0) body += u"\r\n";
      body += kelmo::PlainParagraph(paragraphs[i]);
    }
    return body;
  };
  auto views = [](const std::vector<std::u16string>& texts) {
    return std::vector<std::u16string_view>(texts.begin(), texts.end());
  };
  kelmo::BodyTally tally;
  Check(tally.Replace(0, 1, views(paragraphs)));
  Check(tally.Bytes() == kelmo::testing::ReferenceLenMbcsRuns(plainBody()));

  const std::size_t p = split % paragraphs.size();
  const std::size_t at = split % (paragraphs[p].size() + 1);
  const std::vector<std::u16string> halves = {paragraphs[p].substr(0, at),
                                              paragraphs[p].substr(at)};
  Check(tally.Replace(p, 1, views(halves)));
  paragraphs.erase(paragraphs.begin() + static_cast<std::ptrdiff_t>(p));
  paragraphs.insert(paragraphs.begin() + static_cast<std::ptrdiff_t>(p), halves.begin(),
                    halves.end());
  Check(tally.Bytes() == kelmo::testing::ReferenceLenMbcsRuns(plainBody()));
  return 0;
}
