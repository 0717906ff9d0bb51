// What the window shows, worked out from what the user did: the count mode, the three
// counters, the number in the counter and the window title. No widgets involved.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "message/body_tally.h"
#include "message/limits.h"

namespace kelmo {

class MessageModel {
 public:
  // Byte mode, counters 0, counter "0", plain title: the window as it opens.
  MessageModel() = default;

  // The body's paragraphs `first` to `first + removed` were replaced by `added`.
  // Returns false, changing nothing, when the range is not in the body.
  bool BodyChanged(std::size_t first, std::size_t removed,
                   std::span<const std::u16string_view> added);
  // The whole body was replaced by `paragraphs`.
  void BodyReplaced(std::span<const std::u16string_view> paragraphs);
  void OwnAddressChanged(std::u16string_view text);
  void SubjectChanged(std::u16string_view text);
  // Ticking recounts all three counters; unticking shows the body's characters and
  // then the plain title, whatever the count says.
  void ByteModeTicked();
  void ByteModeUnticked();
  // The own address came from the address file: in byte mode everything is recounted.
  void AddressesLoaded(std::u16string_view own);
  // Body, own address and subject emptied, in that order.
  void AllCleared();

  bool ByteMode() const { return m_byteMode; }
  // The number the counter shows: the message total in byte mode, the body's characters
  // otherwise.
  std::int64_t Counter() const { return m_counter; }
  Title WindowTitle() const { return m_title; }

  // Room left against the message limit in the mode's unit (bytes or characters);
  // negative past it. In byte mode that is the whole message's, even while the counter
  // still shows the 0 of an untouched window.
  std::int64_t RoomLeft() const {
    return kTariff.messageLimit -
           (m_byteMode ? MessageTotal(m_bodyCount, m_addressCount, m_subjectCount) : m_counter);
  }
  // Where the body passes that limit: in byte mode the first character whose bytes take
  // the message total past it, in character mode the first character past it; nullopt
  // within it.
  std::optional<BodyPosition> Spill() const;
  // Room left in the own address and the subject against their limits, in bytes, as the
  // fields stand now: in character mode too, where AddressCount and SubjectCount keep
  // the last byte-mode counts.
  std::int64_t AddressRoomLeft() const;
  std::int64_t SubjectRoomLeft() const;

  // The limits past as the window shows them: the fields' tints and the counter.
  PastLimits Past() const { return {AddressRoomLeft() < 0, SubjectRoomLeft() < 0, RoomLeft() < 0}; }

  std::int64_t BodyCount() const { return m_bodyCount; }
  std::int64_t AddressCount() const { return m_addressCount; }
  std::int64_t SubjectCount() const { return m_subjectCount; }
  const BodyTally& Body() const { return m_body; }

 private:
  void ShowTotal();
  void UpdateTitle();
  void RecountAll();
  void CountCharacters();
  void BodyRecount();

  bool m_byteMode = true;
  BodyTally m_body;
  // The fields as they stand, for the recount when the mode is ticked again.
  std::u16string m_ownAddress;
  std::u16string m_subject;

  std::int64_t m_bodyCount = 0;
  std::int64_t m_addressCount = 0;
  std::int64_t m_subjectCount = 0;
  std::int64_t m_counter = 0;
  Title m_title = Title::kPlain;
};

}  // namespace kelmo
