#include "message/limits.h"

#include "measure/mbcs.h"

namespace kelmo {

Title ChooseTitle(std::int64_t addressCount, std::int64_t subjectCount, std::int64_t counter) {
  if (counter > kTariff.messageLimit) return Title::kMessageTooLong;
  if (subjectCount > kTariff.subjectLimit) return Title::kSubjectTooLong;
  if (addressCount > kTariff.addressLimit) return Title::kAddressTooLong;
  return Title::kPlain;
}

ByteModeCount CountInByteMode(std::int64_t bodyCount, std::u16string_view own,
                              std::u16string_view subject) {
  ByteModeCount count;
  count.addressCount = LenMbcs(own);
  count.subjectCount = LenMbcsRuns(subject);
  count.total = MessageTotal(bodyCount, count.addressCount, count.subjectCount);
  count.title = ChooseTitle(count.addressCount, count.subjectCount, count.total);
  return count;
}

std::vector<Crossing> Crossings(PastLimits before, PastLimits after) {
  std::vector<Crossing> crossed;
  if (before.message != after.message) crossed.push_back({Limit::kMessage, after.message});
  if (before.subject != after.subject) crossed.push_back({Limit::kSubject, after.subject});
  if (before.address != after.address) crossed.push_back({Limit::kAddress, after.address});
  return crossed;
}

std::u16string_view TitleText(Title title) {
  switch (title) {
    case Title::kAddressTooLong:
      return u"Kelmo\u3000サーバー保存になるよ アド";
    case Title::kSubjectTooLong:
      return u"Kelmo\u3000サーバー保存になるよ\u3000件名";
    case Title::kMessageTooLong:
      return u"Kelmo\u3000サーバー保存になるよ\u3000全体";
    case Title::kPlain:
      break;
  }
  return u"Kelmo";
}

std::u16string_view WarningText(Title title) {
  return TitleText(title).substr(TitleText(Title::kPlain).size());
}

}  // namespace kelmo
