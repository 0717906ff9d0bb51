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
#include <vector>

#include "codec/codec.h"
#include "codec/line_breaks.h"
#include "codec/utf8.h"
#include "error/expected.h"
#include "measure/utf8_counter.h"
#include "message/limits.h"

namespace kelmo {
namespace {

constexpr int kUsageError = 2;
constexpr int kNoDisplay = 3;
// Large enough that reading costs few system calls, small enough to stay in the cache.
constexpr std::size_t kChunkBytes = std::size_t{128} * 1024;

constexpr std::string_view kHelp =
    "Usage: kelmo [Qt options]\n"
    "       kelmo --measure [--own ADDRESS] [--subject SUBJECT] [FILE...]\n"
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
    "Options:\n"
    "  -h, --help           Displays help on commandline options.\n"
    "  -v, --version        Displays version information.\n"
    "  --measure            Measure a message instead of opening the window.\n"
    "  --own <ADDRESS>      The own address.\n"
    "  --subject <SUBJECT>  The subject.\n"
    "\n"
    "Arguments:\n"
    "  FILE                 The body (standard input if absent or -); several to\n"
    "                       measure each.\n";

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
    {"measure", &Arguments::measure},  {"help", &Arguments::help},
    {"help-all", &Arguments::help},    {"version", &Arguments::version},
    {"own", nullptr, &Arguments::own}, {"subject", nullptr, &Arguments::subject},
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

// The options as QCommandLineParser would take them: "--own X" or "--own=X", "-hv" for
// "-h -v", "--" before operands that start with "-", and the same error texts.
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
      if (option == nullptr) return "Unknown option '" + std::string(name) + "'.";
      if (option->value != nullptr) {
        if (equals != std::string_view::npos) {
          args.*option->value = arg.substr(equals + 1);
        } else if (i + 1 < argc) {
          args.*option->value = argv[++i];
        } else {
          return "Missing value after '" + std::string(arg) + "'.";
        }
      } else if (equals != std::string_view::npos) {
        return "Unexpected value after '" + std::string(arg.substr(0, equals)) + "'.";
      } else {
        args.*option->flag = true;
      }
    } else {
      for (const char c : arg.substr(1)) {
        const ShortOption* option = FindOption(kShortOptions, c);
        if (option == nullptr) return std::string("Unknown option '") + c + "'.";
        args.*option->flag = true;
      }
    }
  }
  return args;
}

// The body's LenMbcsRuns, read in chunks so that its size does not matter, or an error
// message.
Expected<std::int64_t, std::string> MeasureBody(const std::string& path) {
  const bool standardInput = path.empty() || path == "-";
  const std::string name = standardInput ? "standard input" : path;
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
    if (!(valid = body.Add(std::string_view(chunk, static_cast<std::size_t>(got))))) break;
  }
  if (!standardInput) ::close(fd);
  if (readError != 0) return name + ": " + std::strerror(readError);
  if (!valid || !body.Finish()) return name + ": not valid UTF-8";
  return body.LenMbcsRuns();
}

// The file's name on one line of output: a backslash, a control character (a line break,
// a TAB) or a byte that is not UTF-8 as a C escape, so that every file takes one line and
// its name can be told apart from the fields before it. Spaces stay as they are: the name
// is the last field.
std::string EscapedName(std::string_view name) {
  constexpr unsigned char kDelete = 0x7F;
  std::string shown;
  for (std::size_t i = 0; i < name.size();) {
    const auto byte = static_cast<unsigned char>(name[i]);
    char32_t ignored = 0;
    const int length =
        byte < 0x80
            ? 1
            : DecodeUtf8Sequence(reinterpret_cast<const unsigned char*>(name.data() + i),
                                 reinterpret_cast<const unsigned char*>(name.data() + name.size()),
                                 ignored);
    if (length > 1) {
      shown.append(name.substr(i, static_cast<std::size_t>(length)));
      i += static_cast<std::size_t>(length);
      continue;
    }
    switch (byte) {
      case '\\':
        shown += "\\\\";
        break;
      case '\t':
        shown += "\\t";
        break;
      case '\n':
        shown += "\\n";
        break;
      case '\r':
        shown += "\\r";
        break;
      default:
        if (byte >= ' ' && byte < kDelete) {
          shown += static_cast<char>(byte);
        } else {
          char escaped[sizeof "\\xff"];
          std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
          shown += escaped;
        }
    }
    ++i;
  }
  return shown;
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
               EscapedName(file) + '\n')) {
      return kUsageError;
    }
  }
  return failed ? kUsageError : pastLimit ? 1 : 0;
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
      // Appended rather than "'" + std::string(arg): GCC 12 at -O3 warns of overlap there.
      std::string message = "'";
      message.append(arg).append(
          "': the window takes no FILE; to measure one: kelmo --measure FILE");
      return UsageError(message);
    }
    std::string_view name = arg.substr(arg[1] == '-' ? 2 : 1);
    const std::size_t equals = name.find('=');
    name = name.substr(0, equals);
    const QtOption* option = FindOption(kQtOptions, name);
    if (option == nullptr) return UsageError("unknown option '" + std::string(arg) + "'");
    if (option->takesValue && equals == std::string_view::npos) {
      if (i + 1 >= argc) return UsageError("missing value after '" + std::string(arg) + "'");
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
  if (!args->measure) return UsageError("--own, --subject and FILE go with --measure");
  try {
    // One FILE, or none, prints what it always has, for the scripts that read it.
    return args->files.size() > 1 ? MeasureEach(*args) : Measure(*args);
  } catch (const std::system_error&) {  // iconv could not open the conversion
    PrintError("no code page 932 converter: " + Cp932ConverterProblem());
    return kUsageError;
  }
}

}  // namespace kelmo
