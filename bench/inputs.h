// The benchmark texts: 1 MiB of UTF-16 each.
#pragma once

#include <string>

namespace kelmo::bench {

inline constexpr std::size_t kUnits = (1u << 20) / sizeof(char16_t);

inline std::u16string Repeat(std::u16string_view piece) {
  std::u16string text;
  text.reserve(kUnits + piece.size());
  while (text.size() < kUnits) text += piece;
  text.resize(kUnits);
  return text;
}

// (A) ASCII mail text with CR LF line breaks.
inline std::u16string AsciiMail() {
  return Repeat(
      u"Hello Taro,\r\nThe meeting moves to 3 pm on Friday, room 204.\r\n"
      u"Please bring the printed agenda (v2) and your notes.\r\nRegards, Hanako\r\n\r\n");
}

// (B) Japanese prose: hiragana, kanji, katakana, some ASCII and full-width punctuation.
inline std::u16string JapaneseProse() {
  return Repeat(
      u"明日の会議は午後三時からに変更になりました。場所は第二会議室です。"
      u"資料（アジェンダ v2）を印刷して持ってきてください！メールアドレスは"
      u"taro@example.jp です。よろしくお願いします。\r\n");
}

// (C) ASCII and kanji alternating.
inline std::u16string Alternating() { return Repeat(u"a漢b字c文d章"); }

}  // namespace kelmo::bench
