#include "message/message_model.h"

#include "measure/mbcs.h"

namespace kelmo {

bool MessageModel::BodyChanged(std::size_t first, std::size_t removed,
                               std::span<const std::u16string_view> added) {
  if (!m_body.Replace(first, removed, added)) return false;
  BodyRecount();
  return true;
}

void MessageModel::BodyReplaced(std::span<const std::u16string_view> paragraphs) {
  static constexpr std::u16string_view kEmpty[] = {u""};
  m_body.Replace(0, m_body.Paragraphs(), paragraphs.empty() ? kEmpty : paragraphs);
  BodyRecount();
}

void MessageModel::OwnAddressChanged(std::u16string_view text) {
  m_ownAddress = text;
  if (!m_byteMode) return;
  m_addressCount = LenMbcs(text);
  ShowTotal();
}

void MessageModel::SubjectChanged(std::u16string_view text) {
  m_subject = text;
  if (!m_byteMode) return;
  m_subjectCount = LenMbcsRuns(text);
  ShowTotal();
}

// Ticking needs only the body's count; recounting the address and subject too keeps
// edits made in character mode from leaving a stale share in the total.
void MessageModel::ByteModeTicked() {
  m_byteMode = true;
  RecountAll();
}

void MessageModel::ByteModeUnticked() {
  m_byteMode = false;
  BodyRecount();
  m_title = Title::kPlain;
}

void MessageModel::AddressesLoaded(std::u16string_view own) {
  OwnAddressChanged(own);
  if (m_byteMode) RecountAll();
}

void MessageModel::AllCleared() {
  BodyReplaced({});
  OwnAddressChanged({});
  SubjectChanged({});
}

std::optional<BodyPosition> MessageModel::Spill() const {
  if (m_counter <= kTariff.messageLimit) return std::nullopt;
  if (!m_byteMode) return m_body.FirstPastCharacters(kTariff.messageLimit);
  return m_body.FirstPastBytes(kTariff.messageLimit -
                               MessageTotal(0, m_addressCount, m_subjectCount));
}

std::int64_t MessageModel::AddressRoomLeft() const {
  return kTariff.addressLimit - LenMbcs(m_ownAddress);
}

std::int64_t MessageModel::SubjectRoomLeft() const {
  return kTariff.subjectLimit - LenMbcsRuns(m_subject);
}

void MessageModel::BodyRecount() {
  if (m_byteMode) {
    m_bodyCount = m_body.Bytes();
    ShowTotal();
  } else {
    CountCharacters();
  }
}

void MessageModel::ShowTotal() {
  m_counter = MessageTotal(m_bodyCount, m_addressCount, m_subjectCount);
  UpdateTitle();
}

// Compares the number shown, so in character mode the body's characters meet the
// message limit while the address and subject keep their last byte counts.
void MessageModel::UpdateTitle() {
  m_title = ChooseTitle(m_addressCount, m_subjectCount, m_counter);
}

void MessageModel::RecountAll() {
  m_bodyCount = m_body.Bytes();
  const ByteModeCount count = CountInByteMode(m_bodyCount, m_ownAddress, m_subject);
  m_addressCount = count.addressCount;
  m_subjectCount = count.subjectCount;
  m_counter = count.total;
  m_title = count.title;
}

void MessageModel::CountCharacters() {
  m_counter = m_body.Characters();
  UpdateTitle();
}

}  // namespace kelmo
