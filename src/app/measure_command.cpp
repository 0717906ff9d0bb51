#include "app/measure_command.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "codec/codec.h"
#include "codec/line_breaks.h"
#include "codec/utf8.h"
#include "error/expected.h"
#include "measure/utf8_counter.h"
#include "message/limits.h"
#include "message/split.h"

namespace kelmo {
namespace {

constexpr int kUsageError = 2;
constexpr int kNoDisplay = 3;
// Large enough that reading costs few system calls, small enough to stay in the cache.
constexpr std::size_t kChunkBytes = std::size_t{128} * 1024;

constexpr std::string_view kHelp =
    "Usage: kelmo [Qt options]\n"
    "       kelmo --measure [--own ADDRESS] [--subject SUBJECT] [FILE...]\n"
    "       kelmo --split [--own ADDRESS] [--subject SUBJECT] [FILE]\n"
    "       kelmo --help | --version\n"
    "Measures a short mail against a mobile mail service's limits.\n"
    "Without options, opens the window; it takes only Qt's own options (such as\n"
    "-platform or -style), no FILE.\n"
    "\n"
    "--measure prints the number the counter shows in byte mode, a TAB and the title\n"
    "the window shows, in UTF-8. Exit status: 0 within every limit, 1 past one, 2 on\n"
    "an error. The body comes from FILE, or standard input when FILE is absent or \"-\",\n"
    "as UTF-8; every line break in it counts as CR LF.\n"
    "With more than one FILE, each is measured as the body of the same message: a line\n"
    "each, the number, the title and the file's name (a backslash, a TAB, a line break\n"
    "or another control character in it as \\\\, \\t, \\n, \\r or \\xHH). A file that\n"
    "cannot be read gets a message and the others are measured; the exit status is then\n"
    "2, else 1 when any is past a limit.\n"
    "\n"
    "--split prints the bodies of the mails a message past 384 bytes becomes, each\n"
    "starting \"(n/N)\" and a line break and fitting every limit: for each, a line\n"
    "\"n/N LENGTH\", then LENGTH bytes of body (UTF-8, line breaks as CR LF), then a\n"
    "line feed. A message that fits is one part, \"1/1\", without the marker. Exit\n"
    "status: 0 when split or within every limit, 1 when splitting cannot help (the own\n"
    "address or the subject past its limit, more than 99 parts), 2 on an error.\n"
    "\n"
    "Options:\n"
    "  -h, --help           Show the options and exit.\n"
    "  -v, --version        Show the version and exit.\n"
    "  --measure            Measure a message instead of opening the window.\n"
    "  --split              Split a message into mails that each fit.\n"
    "  --own <ADDRESS>      The own address.\n"
    "  --subject <SUBJECT>  The subject.\n"
    "\n"
    "Arguments:\n"
    "  FILE                 The body (standard input if absent or -); several to\n"
    "                       measure each (one to split).\n";

// What a terminal takes as a command rather than a character (C0, DEL, C1), and the
// bidirectional formatting characters, which reorder the rest of the line as displayed.
bool HiddenEffect(char32_t c) {
  // NOLINTBEGIN(readability-magic-numbers): the code points are the data here
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x61C || c == 0x200E || c == 0x200F ||
         (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
  // NOLINTEND(readability-magic-numbers)
}

}  // namespace

// The bytes of a name or argument as a message shows them: each byte of a character with
// a hidden effect, or of no well-formed UTF-8 sequence, as \xHH, a backslash as \\, so
// that nothing the user typed moves the cursor, recolours or clears the terminal or turns
// the line around, and every name shown reads back unambiguously.
std::string Shown(std::string_view bytes) {
  constexpr char kHex[] = "0123456789abcdef";
  std::string shown;
  shown.reserve(bytes.size());
  const auto escape = [&](std::string_view raw) {
    constexpr unsigned kNibbleBits = 4;
    constexpr unsigned kLowNibble = 0xF;
    for (const char byte : raw) {
      const auto b = static_cast<unsigned char>(byte);
      shown.append("\\x").append(1, kHex[b >> kNibbleBits]).append(1, kHex[b & kLowNibble]);
    }
  };
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* const end = p + bytes.size();
  while (p < end) {
    char32_t c = *p;
    const int decoded = c < 0x80 ? 1 : DecodeUtf8Sequence(p, end, c);
    const std::string_view raw(reinterpret_cast<const char*>(p),
                               decoded > 0 ? static_cast<std::size_t>(decoded) : 1);
    if (decoded <= 0 || HiddenEffect(c)) {
      escape(raw);
    } else if (c == '\\') {
      shown.append("\\\\");
    } else {
      shown.append(raw);
    }
    p += raw.size();
  }
  return shown;
}

namespace {

// Whether bytes are UTF-8 throughout.
bool IsUtf8(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* const end = p + bytes.size();
  while (p < end) {
    char32_t c = 0;
    const int length = *p < 0x80 ? 1 : DecodeUtf8Sequence(p, end, c);
    if (length <= 0) return false;
    p += length;
  }
  return true;
}

// A name or argument in quotes, as Shown.
std::string Quoted(std::string_view bytes) {
  return std::string(1, '\'').append(Shown(bytes)) + '\'';
}

void PrintError(std::string_view message) {
  std::fprintf(stderr, "kelmo: %.*s\n", static_cast<int>(message.size()), message.data());
}

// A usage error: what is wrong, and where to look.
int UsageError(std::string_view message) {
  PrintError(message);
  std::fputs("Try 'kelmo --help' for more information.\n", stderr);
  return kUsageError;
}

// The options QApplication takes for itself, with one or two leading dashes; the window
// takes no others.
struct QtOption {
  std::string_view name;
  bool takesValue;
};
constexpr QtOption kQtOptions[] = {
    {"platform", true},
    {"platformpluginpath", true},
    {"platformtheme", true},
    {"plugin", true},
    {"qwindowgeometry", true},
    {"qwindowicon", true},
    {"qwindowtitle", true},
    {"session", true},
    {"display", true},
    {"geometry", true},
    {"style", true},
    {"stylesheet", true},
    {"name", true},
    {"title", true},
    {"reverse", false},
    {"widgetcount", false},
    {"nograb", false},
    {"dograb", false},
    {"sync", false},
};

// Writes all of text to standard output; false, with a message, when it cannot.
bool Print(std::string_view text) {
  if (std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0) {
    return true;
  }
  PrintError(std::string("standard output: ") + std::strerror(errno));
  return false;
}

struct Arguments {
  bool measure = false;
  bool split = false;
  bool help = false;
  bool version = false;
  std::string own;
  std::string subject;
  std::vector<std::string> files;
};

// Every option, for the parser and for telling whether the command line is ours.
struct LongOption {
  std::string_view name;
  bool Arguments::*flag = nullptr;          // set by the option
  std::string Arguments::*value = nullptr;  // or the value it takes
};
constexpr LongOption kLongOptions[] = {
    {"measure", &Arguments::measure},
    {"split", &Arguments::split},
    {"help", &Arguments::help},
    {"help-all", &Arguments::help},
    {"version", &Arguments::version},
    {"own", nullptr, &Arguments::own},
    {"subject", nullptr, &Arguments::subject},
};
struct ShortOption {
  char name;
  bool Arguments::*flag;
};
constexpr ShortOption kShortOptions[] = {
    {'h', &Arguments::help}, {'?', &Arguments::help}, {'v', &Arguments::version}};

// The option of that name in the table, or nullptr.
template <typename Option, std::size_t N, typename Name>
const Option* FindOption(const Option (&table)[N], Name name) {
  const Option* found = std::ranges::find(table, name, &Option::name);
  return found == std::end(table) ? nullptr : found;
}

// The options in the usual forms: "--own X" or "--own=X", "-hv" for "-h -v", "--" before
// operands that start with "-".
Expected<Arguments, std::string> Parse(int argc, char** argv) {
  Arguments args;
  bool operandsOnly = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (operandsOnly || arg == "-" || arg.empty() || arg[0] != '-') {
      args.files.emplace_back(arg);
    } else if (arg == "--") {
      operandsOnly = true;
    } else if (arg.substr(0, 2) == "--") {
      const std::size_t equals = arg.find('=');
      const std::string_view name =
          arg.substr(2, equals == std::string_view::npos ? std::string_view::npos : equals - 2);
      const LongOption* option = FindOption(kLongOptions, name);
      if (option == nullptr) return "unknown option " + Quoted(arg.substr(0, equals));
      if (option->value != nullptr) {
        if (equals != std::string_view::npos) {
          args.*option->value = arg.substr(equals + 1);
        } else if (i + 1 < argc) {
          args.*option->value = argv[++i];
        } else {
          return "missing value after " + Quoted(arg);
        }
      } else if (equals != std::string_view::npos) {
        return Quoted(arg.substr(0, equals)) + " takes no value";
      } else {
        args.*option->flag = true;
      }
    } else {
      for (const char c : arg.substr(1)) {
        const ShortOption* option = FindOption(kShortOptions, c);
        if (option == nullptr) return "unknown option " + Quoted(std::string{'-', c});
        args.*option->flag = true;
      }
    }
  }
  return args;
}

// The body's LenMbcsRuns, read in chunks so that its size does not matter, or an error
// message. With `text`, the body's first `keepMost` bytes are kept there as read.
Expected<std::int64_t, std::string> MeasureBody(const std::string& path,
                                                std::string* text = nullptr,
                                                std::size_t keepMost = 0) {
  const bool standardInput = path.empty() || path == "-";
  const std::string name = standardInput ? "standard input" : Shown(path);
  const int fd = standardInput ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return name + ": " + std::strerror(errno);
  struct stat status {};
  if (!standardInput && ::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
    ::close(fd);
    return name + ": file to open is a directory";  // in the words Qt used for it
  }
  // A BOM at the start is not part of the body.
  Utf8MbcsCounter body(/*skipInitialBom=*/true);
  // Page-aligned, which the kernel copies into fastest.
  alignas(4096) static char chunk[kChunkBytes];
  bool valid = true;
  int readError = 0;
  for (;;) {
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) readError = errno;
    if (got <= 0) break;
    if (text != nullptr && text->size() < keepMost) {
      text->append(chunk, std::min(static_cast<std::size_t>(got), keepMost - text->size()));
    }
    if (!(valid = body.Add(std::string_view(chunk, static_cast<std::size_t>(got))))) break;
  }
  if (!standardInput) ::close(fd);
  if (readError != 0) return name + ": " + std::strerror(readError);
  if (!valid || !body.Finish()) return name + ": not valid UTF-8";
  return body.LenMbcsRuns();
}

// The window's count and title for a body of that many bytes.
ByteModeCount CountFor(std::int64_t bodyBytes, const Arguments& args) {
  // The fields are measured as the window holds them: as UTF-16, on one line.
  return CountInByteMode(bodyBytes, WithoutLineBreaks(DecodeUtf8(args.own)),
                         WithoutLineBreaks(DecodeUtf8(args.subject)));
}

// Measures the message and prints the number and the title; the exit status.
int Measure(const Arguments& args) {
  const Expected<std::int64_t, std::string> bodyBytes =
      MeasureBody(args.files.empty() ? std::string() : args.files.front());
  if (!bodyBytes) {
    PrintError(bodyBytes.error());
    return kUsageError;
  }
  const ByteModeCount count = CountFor(*bodyBytes, args);
  if (!Print(std::to_string(count.total) + '\t' + EncodeUtf8(TitleText(count.title)) + '\n')) {
    return kUsageError;
  }
  return count.title == Title::kPlain ? 0 : 1;
}

// Several bodies, as wc takes several files: a line each, in the order given, with the
// file's name; a file that cannot be measured gets a message and the others go on. The
// exit status: 2 when any could not be measured, else 1 when any is past a limit.
int MeasureEach(const Arguments& args) {
  bool failed = false;
  bool pastLimit = false;
  for (const std::string& file : args.files) {
    const Expected<std::int64_t, std::string> bodyBytes = MeasureBody(file);
    if (!bodyBytes) {
      PrintError(bodyBytes.error());
      failed = true;
      continue;
    }
    const ByteModeCount count = CountFor(*bodyBytes, args);
    pastLimit = pastLimit || count.title != Title::kPlain;
    if (!Print(std::to_string(count.total) + '\t' + EncodeUtf8(TitleText(count.title)) + '\t' +
               Shown(file) + '\n')) {
      return kUsageError;
    }
  }
  return failed ? kUsageError : pastLimit ? 1 : 0;
}

// UTF-8 past this many bytes cannot fit in kMostParts parts: a character takes at most three
// times its code page 932 bytes in UTF-8 (one written as '?'), a part's share less than
// the whole message, and each dropped line break three bytes at most (U+2028).
constexpr std::size_t kSplitReadMost = 4 * kMostParts * kTariff.messageLimit;

std::string_view SplitProblemText(SplitProblem problem) {
  switch (problem) {
    case SplitProblem::kAddressTooLong:
      return "the own address is past its limit of 55 bytes in every part: splitting cannot "
             "help";
    case SplitProblem::kSubjectTooLong:
      return "the subject is past its limit of 40 bytes in every part: splitting cannot help";
    case SplitProblem::kTooManyParts:
      return "the message would take more than 99 parts: splitting cannot help";
    case SplitProblem::kNoRoom:
      break;
  }
  return "a part has no room for the body: splitting cannot help";
}

// The body as the window holds and sends it: without a byte order mark, every line break
// (the editor's own too) as CR LF, a no-break space as a space.
std::u16string WindowBody(std::string_view utf8) {
  std::u16string body = DecodeUtf8(utf8);
  if (!body.empty() && body.front() == u'\uFEFF') body.erase(0, 1);
  for (char16_t& unit : body) {
    if (IsEditorLineBreak(unit)) unit = u'\n';
    if (unit == u'\u00A0') unit = u' ';
  }
  return WithCrLf(body);
}

// Splits the message and prints each part's body after a line "n/N LENGTH", with a line
// feed after it; the exit status.
int Split(const Arguments& args) {
  std::string text;
  const Expected<std::int64_t, std::string> bodyBytes = MeasureBody(
      args.files.empty() ? std::string() : args.files.front(), &text, kSplitReadMost + 1);
  if (!bodyBytes) {
    PrintError(bodyBytes.error());
    return kUsageError;
  }
  if (text.size() > kSplitReadMost) {
    PrintError(SplitProblemText(SplitProblem::kTooManyParts));
    return 1;
  }
  const auto parts = SplitMessage(WindowBody(text), WithoutLineBreaks(DecodeUtf8(args.own)),
                                  WithoutLineBreaks(DecodeUtf8(args.subject)));
  if (!parts) {
    PrintError(SplitProblemText(parts.error()));
    return 1;
  }
  std::string out;
  for (std::size_t k = 0; k < parts->size(); ++k) {
    const std::string body = EncodeUtf8((*parts)[k].body);
    out.append(std::to_string(k + 1)).append("/").append(std::to_string(parts->size()));
    out.append(" ").append(std::to_string(body.size())).append("\n").append(body).append("\n");
  }
  return Print(out) ? 0 : kUsageError;
}

}  // namespace

bool WantsCommandLine(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const std::string_view name = arg.substr(0, arg.find('='));
    if (name.substr(0, 2) == "--"
            ? FindOption(kLongOptions, name.substr(2)) != nullptr
            : name.size() == 2 && name[0] == '-' && FindOption(kShortOptions, name[1])) {
      return true;
    }
  }
  return false;
}

int CheckWindowArguments(int argc, char** argv) {
  bool platformGiven = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg.empty() || arg[0] != '-' || arg == "-" || arg == "--") {
      return UsageError(Quoted(arg) +
                        ": the window takes no FILE; to measure one: kelmo --measure FILE");
    }
    std::string_view name = arg.substr(arg[1] == '-' ? 2 : 1);
    const std::size_t equals = name.find('=');
    name = name.substr(0, equals);
    const QtOption* option = FindOption(kQtOptions, name);
    if (option == nullptr) return UsageError("unknown option " + Quoted(arg));
    if (option->takesValue && equals == std::string_view::npos) {
      if (i + 1 >= argc) return UsageError("missing value after " + Quoted(arg));
      ++i;
    }
    platformGiven = platformGiven || name == "platform";
  }
  const auto set = [](const char* variable) {
    const char* value = std::getenv(variable);
    return value != nullptr && *value != '\0';
  };
  // Qt would abort with a screenful of plugin names; a platform asked for by name is
  // Qt's to check.
  if (!set("DISPLAY") && !set("WAYLAND_DISPLAY") && !set("QT_QPA_PLATFORM") && !platformGiven) {
    PrintError(
        "no display: neither DISPLAY nor WAYLAND_DISPLAY is set, so the window cannot open; "
        "'kelmo --measure' needs none");
    return kNoDisplay;
  }
  return 0;
}

int RunCommandLine(int argc, char** argv) {
  const Expected<Arguments, std::string> args = Parse(argc, argv);
  if (!args) return UsageError(args.error());
  if (args->help) return Print(kHelp) ? 0 : kUsageError;
  if (args->version) return Print("Kelmo " KELMO_VERSION "\n") ? 0 : kUsageError;
  if (args->measure && args->split) return UsageError("--measure and --split do not go together");
  if (!args->measure && !args->split) {
    return UsageError("--own, --subject and FILE go with --measure or --split");
  }
  if (args->split && args->files.size() > 1) return UsageError("--split takes one FILE");
  // The same rule as for the body: text that is not UTF-8 is refused, not guessed at.
  const std::pair<const char*, const std::string*> fields[] = {{"--own", &args->own},
                                                               {"--subject", &args->subject}};
  for (const auto& [option, value] : fields) {
    if (!IsUtf8(*value)) {
      PrintError(std::string(option) + ": not valid UTF-8: " + Quoted(*value));
      return kUsageError;
    }
  }
  try {
    // One FILE, or none, prints what it always has, for the scripts that read it.
    if (args->split) return Split(*args);
    return args->files.size() > 1 ? MeasureEach(*args) : Measure(*args);
  } catch (const std::system_error&) {  // iconv could not open the conversion
    PrintError("no code page 932 converter: " + Cp932ConverterProblem());
    return kUsageError;
  }
}

}  // namespace kelmo
