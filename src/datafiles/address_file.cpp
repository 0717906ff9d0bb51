#include "datafiles/address_file.h"

#include <QObject>
#include <algorithm>

#include "codec/codec.h"
#include "codec/utf8.h"
#include "fileio/file_io.h"
#include "utf16/utf16.h"

namespace kelmo {
namespace {

constexpr unsigned char kDelete = 0x7F;
constexpr char16_t kLastC1Control = 0x9F;

// Control characters other than TAB mean the file is not text (a binary file, say). The
// same characters in an address are not saved: the file would not load.
constexpr bool IsNotText(char32_t c) { return (c < 0x20 && c != U'\t') || c == kDelete; }

bool IsText(std::string_view line) {
  return std::ranges::none_of(line,
                              [](char c) { return IsNotText(static_cast<unsigned char>(c)); });
}

// Splits off one line; returns false when no line ends within `rest`.
bool TakeLine(std::string_view& rest, std::string_view& line) {
  const std::size_t end = rest.find_first_of("\r\n");
  if (end == std::string_view::npos) return false;
  line = rest.substr(0, end);
  std::size_t next = end + 1;
  if (rest[end] == '\r' && next < rest.size() && rest[next] == '\n') ++next;
  rest.remove_prefix(next);
  return true;
}

// One character as the message names it: itself, or its code point when it shows nothing.
QString Shown(std::u16string_view character) {
  const char16_t unit = character.front();
  if (character.size() == 1 && (unit < u' ' || (unit >= kDelete && unit <= kLastC1Control) ||
                                unit == u'\u2028' || unit == u'\u2029')) {
    return QStringLiteral("U+%1").arg(static_cast<int>(unit), 4, 16, QLatin1Char('0')).toUpper();
  }
  return ToQString(character);
}

}  // namespace

std::u16string NotKeptInAddressFile(std::u16string_view text) {
  std::u16string found = NotKeptByCp932(text);
  // Line breaks would end the line early; other control characters make the file one
  // the loader takes for binary. Both come back through code page 932 unchanged.
  for (const char16_t unit : text) {
    if (IsNotText(unit) && found.find(unit) == std::u16string::npos) {
      found += unit;
    }
  }
  return found;
}

Expected<AddressLines, AddressFileError> ParseAddressFile(std::string_view bytes, bool wholeFile) {
  std::string_view rest = bytes;
  std::string_view lines[2];
  for (int i = 0; i < 2; ++i) {
    if (!TakeLine(rest, lines[i])) {
      // The last line may end at the end of the file instead of a line break.
      if (i == 1 && wholeFile && !rest.empty()) {
        lines[i] = rest;
        rest = {};
      } else {
        if (!IsText(rest.substr(0, kMaxAddressLineBytes + 1))) return AddressFileError::kNotText;
        if (rest.size() > kMaxAddressLineBytes) return AddressFileError::kLineTooLong;
        return AddressFileError::kTooFewLines;
      }
    }
    if (!IsText(lines[i])) return AddressFileError::kNotText;
    if (lines[i].size() > kMaxAddressLineBytes) return AddressFileError::kLineTooLong;
  }
  return AddressLines{DecodeCp932(lines[0]), DecodeCp932(lines[1])};
}

std::string AddressFileBytes(std::u16string_view own, std::u16string_view recipient) {
  std::string bytes = EncodeCp932(own);
  bytes += "\r\n";
  bytes += EncodeCp932(recipient);
  bytes += "\r\n";
  return bytes;
}

Result<> SaveAddresses(const QString& path, const AddressPair& addresses) {
  // What "メアド読込" would bring back as another address is not written.
  const std::u16string lost = NotKeptInAddressFile(View(addresses.own + addresses.recipient));
  if (!lost.empty()) {
    QString shown;
    for (std::size_t i = 0; i < lost.size();) {
      const std::size_t units = CharacterUnits(lost, i);
      if (!shown.isEmpty()) shown += QLatin1Char(' ');
      shown += Shown(std::u16string_view(lost).substr(i, units));
      i += units;
    }
    return Error(AddressFileError::kNotStorable,
                 QObject::tr("%1 に保存できません: アドに Shift_JIS でそのまま書けない文字が"
                             "あります: %2 (保存しませんでした)")
                     .arg(path, shown));
  }
  const std::string bytes = AddressFileBytes(View(addresses.own), View(addresses.recipient));
  if (!ParseAddressFile(bytes, true)) {  // only a line too long to load is left
    return Error(AddressFileError::kLineTooLong,
                 QObject::tr("%1 に保存できません: アドが長すぎます (%2 バイトまで)。"
                             "(保存しませんでした)")
                     .arg(path)
                     .arg(kMaxAddressLineBytes));
  }
  return SaveFileBytes(path, QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

Result<AddressPair> LoadAddresses(const QString& path) {
  // Two lines of the longest length with their breaks: nothing past that is read.
  constexpr qsizetype kLimit = 2 * (kMaxAddressLineBytes + 2);
  const Result<FilePrefix> prefix = ReadFilePrefix(path, kLimit);
  if (!prefix) return prefix.error();
  const auto parsed = ParseAddressFile(
      std::string_view(prefix->bytes.constData(), static_cast<std::size_t>(prefix->bytes.size())),
      prefix->wholeFile);
  if (parsed) return AddressPair{ToQString(parsed->own), ToQString(parsed->recipient)};
  switch (parsed.error()) {
    case AddressFileError::kTooFewLines:
      return Error(parsed.error(),
                   QObject::tr("%1 を読み込めません: 自分のアドと相手のアドの 2 行がありません。")
                       .arg(path));
    case AddressFileError::kLineTooLong:
      return Error(parsed.error(),
                   QObject::tr("%1 を読み込めません: 行が長すぎます (%2 バイトまで)。")
                       .arg(path)
                       .arg(kMaxAddressLineBytes));
    case AddressFileError::kNotText:
    case AddressFileError::kNotStorable:
      break;
  }
  return Error(AddressFileError::kNotText,
               QObject::tr("%1 を読み込めません: テキストファイルではありません。").arg(path));
}

}  // namespace kelmo
