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

// Control characters other than TAB mean the file is not text (a binary file, say).
constexpr bool IsNotText(char32_t c) { return (c < 0x20 && c != U'\t') || c == kDelete; }

// None is saved in an address: a line break would end the line, the others would load as
// a file that is not text, or hide in the field.
constexpr bool IsControl(char32_t c) { return c < 0x20 || c == kDelete; }

bool IsText(std::string_view line) {
  return std::ranges::none_of(line,
                              [](char c) { return IsNotText(static_cast<unsigned char>(c)); });
}

// Well-formed UTF-8 with at least one character outside ASCII.
bool IsUtf8BeyondAscii(std::string_view line) {
  const auto* p = reinterpret_cast<const unsigned char*>(line.data());
  const auto* end = p + line.size();
  bool beyond = false;
  while (p < end) {
    if (*p < 0x80) {
      ++p;
      continue;
    }
    char32_t c = 0;
    const int length = DecodeUtf8Sequence(p, end, c);
    if (length <= 0) return false;
    beyond = true;
    p += length;
  }
  return beyond;
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

// One character as the message names it: itself, or its code point when it shows nothing
// by itself (controls, formatting and bidirectional marks, spaces other than the space,
// marks that join the character before them, unassigned and private ones), so that it
// neither hides nor rearranges the rest of the message.
QString Shown(std::u16string_view character) {
  const char32_t c = character.size() == 2 ? QChar::surrogateToUcs4(character[0], character[1])
                                           : static_cast<char32_t>(character.front());
  switch (QChar::category(c)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Other_Surrogate:
    case QChar::Other_PrivateUse:
    case QChar::Other_NotAssigned:
    case QChar::Separator_Space:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
      return QStringLiteral("U+%1").arg(static_cast<uint>(c), 4, 16, QLatin1Char('0')).toUpper();
    default:
      return ToQString(character);
  }
}

}  // namespace

std::u16string NotKeptInAddressFile(std::u16string_view text) {
  std::u16string found = NotKeptByCp932(text);
  // Line breaks would end the line early; other control characters make the file one
  // the loader takes for binary. Both come back through code page 932 unchanged.
  for (const char16_t unit : text) {
    if (IsControl(unit) && found.find(unit) == std::u16string::npos) {
      found += unit;
    }
  }
  return found;
}

Expected<AddressLines, AddressFileFault> ParseAddressFile(std::string_view bytes, bool wholeFile) {
  std::string_view rest = bytes;
  std::string_view lines[2];
  for (int i = 0; i < 2; ++i) {
    if (!TakeLine(rest, lines[i])) {
      // The last line may end at the end of the file instead of a line break.
      if (i == 1 && wholeFile && !rest.empty()) {
        lines[i] = rest;
        rest = {};
      } else {
        if (!IsText(rest.substr(0, kMaxAddressLineBytes + 1))) {
          return AddressFileFault{AddressFileError::kNotText};
        }
        if (rest.size() > kMaxAddressLineBytes) {
          return AddressFileFault{AddressFileError::kLineTooLong};
        }
        return AddressFileFault{AddressFileError::kTooFewLines};
      }
    }
    if (!IsText(lines[i])) return AddressFileFault{AddressFileError::kNotText};
    if (lines[i].size() > kMaxAddressLineBytes) {
      return AddressFileFault{AddressFileError::kLineTooLong};
    }
  }
  AddressLines out;
  std::u16string* fields[2] = {&out.own, &out.recipient};
  for (int i = 0; i < 2; ++i) {
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    const bool utf8 =
        (i == 0 && lines[i].starts_with(kByteOrderMark)) || IsUtf8BeyondAscii(lines[i]);
    *fields[i] = DecodeCp932(lines[i]);
    // What code page 932 does not define would be a character the file does not hold.
    if (utf8 || fields[i]->find(kDecodeSubstitute) != std::u16string::npos) {
      return AddressFileFault{AddressFileError::kNotShiftJis, i + 1, utf8};
    }
  }
  return out;
}

std::string AddressFileBytes(std::u16string_view own, std::u16string_view recipient) {
  std::string bytes = EncodeCp932(own);
  bytes += "\r\n";
  bytes += EncodeCp932(recipient);
  bytes += "\r\n";
  return bytes;
}

Result<> SaveAddresses(const FilePath& path, const AddressPair& addresses) {
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
                     .arg(path.shown, shown));
  }
  const std::string bytes = AddressFileBytes(View(addresses.own), View(addresses.recipient));
  const auto parsed = ParseAddressFile(bytes, true);
  if (!parsed && parsed.error().error == AddressFileError::kNotShiftJis) {
    // Half-width katakana whose bytes happen to be UTF-8: the load would refuse the line.
    return Error(AddressFileError::kNotStorable,
                 QObject::tr("%1 に保存できません: %2 行目が UTF-8 のバイト列と同じになり、"
                             "読み込めなくなります (保存しませんでした)")
                     .arg(path.shown)
                     .arg(parsed.error().line));
  }
  if (!parsed) {  // only a line too long to load is left
    return Error(AddressFileError::kLineTooLong,
                 QObject::tr("%1 に保存できません: アドが長すぎます (%2 バイトまで)。"
                             "(保存しませんでした)")
                     .arg(path.shown)
                     .arg(kMaxAddressLineBytes));
  }
  // Before SaveFileBytes, whose check would call another user's file read-only.
  if (Result<> owned = CheckOwnedByUser(path, QObject::tr("に保存できません"), Ownership::kName);
      !owned) {
    return owned;
  }
  return SaveFileBytes(path, QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

Result<AddressPair> LoadAddresses(const FilePath& path) {
  // Two lines of the longest length with their breaks: nothing past that is read.
  constexpr qsizetype kLimit = 2 * (kMaxAddressLineBytes + 2);
  // Another user's kelmo.ini (one left in a shared folder such as /tmp) would put their
  // recipient in the window. Checked again after the read: a file swapped in during it
  // is refused too, wherever the folder lets the name change hands at all.
  const auto owned = [&path] {
    return CheckOwnedByUser(path, QObject::tr("を読み込めません"), Ownership::kNameAndTarget);
  };
  if (Result<> before = owned(); !before) return before.error();
  const Result<FilePrefix> prefix = ReadFilePrefix(path, kLimit);
  if (!prefix) return prefix.error();
  if (Result<> after = owned(); !after) return after.error();
  const auto parsed = ParseAddressFile(
      std::string_view(prefix->bytes.constData(), static_cast<std::size_t>(prefix->bytes.size())),
      prefix->wholeFile);
  if (parsed) return AddressPair{ToQString(parsed->own), ToQString(parsed->recipient)};
  switch (parsed.error().error) {
    case AddressFileError::kTooFewLines:
      return Error(AddressFileError::kTooFewLines,
                   QObject::tr("%1 を読み込めません: 自分のアドと相手のアドの 2 行がありません。")
                       .arg(path.shown));
    case AddressFileError::kLineTooLong:
      return Error(AddressFileError::kLineTooLong,
                   QObject::tr("%1 を読み込めません: 行が長すぎます (%2 バイトまで)。")
                       .arg(path.shown)
                       .arg(kMaxAddressLineBytes));
    case AddressFileError::kNotShiftJis:
      return Error(AddressFileError::kNotShiftJis,
                   (parsed.error().utf8
                        ? QObject::tr("%1 を読み込めません: %2 行目が UTF-8 です。"
                                      "Shift_JIS で保存し直してください。")
                        : QObject::tr("%1 を読み込めません: %2 行目に Shift_JIS (コードページ "
                                      "932) にないバイトがあります。"))
                       .arg(path.shown)
                       .arg(parsed.error().line));
    case AddressFileError::kNotText:
    case AddressFileError::kNotStorable:
      break;
  }
  return Error(
      AddressFileError::kNotText,
      QObject::tr("%1 を読み込めません: テキストファイルではありません。").arg(path.shown));
}

}  // namespace kelmo
