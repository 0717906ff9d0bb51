#include "app/measure_command.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QStringDecoder>
#include <cstdio>
#include <cstring>
#include <optional>

#include "measure/mbcs.h"
#include "measure/message_total.h"
#include "utf16/utf16.h"

namespace kelmo {
namespace {

constexpr int kUsageError = 2;
constexpr qint64 kChunkBytes = 64 * 1024;

void PrintError(const QString& message) {
  std::fprintf(stderr, "kelmo: %s\n", message.toLocal8Bit().constData());
}

// The body's LenMbcsRuns, with every line break (LF, CR LF or a lone CR) as CR LF. The
// input is read and measured in chunks, so its size does not matter.
class BodyMeasure {
 public:
  void Add(QStringView text) {
    m_piece.clear();
    for (const QChar c : text) {
      if (c == u'\n' && m_afterCr) {
        m_afterCr = false;  // the CR already stood for the whole CR LF
        continue;
      }
      m_afterCr = c == u'\r';
      if (c == u'\r' || c == u'\n') {
        m_piece += u"\r\n";
      } else {
        m_piece += c;
      }
    }
    m_counter.Add(View(m_piece));
  }
  std::int64_t Bytes() const { return m_counter.LenMbcsRuns(); }

 private:
  MbcsCounter m_counter;
  QString m_piece;
  bool m_afterCr = false;
};

// Whether the input stops inside a UTF-8 sequence: a lead byte whose continuation
// bytes never came. The decoder keeps such a tail to itself.
bool EndsInsideSequence(const QByteArray& tail) {
  int continuation = 0;
  for (qsizetype i = tail.size() - 1; i >= 0 && continuation < 4; --i) {
    const auto byte = static_cast<unsigned char>(tail[i]);
    if ((byte & 0xC0) == 0x80) {
      ++continuation;
      continue;
    }
    const int length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
    return continuation + 1 < length;
  }
  return false;
}

// The body's bytes, or an error message.
std::optional<std::int64_t> MeasureBody(const QString& path, QString& error) {
  const bool standardInput = path.isEmpty() || path == u"-";
  const QString name = standardInput ? QStringLiteral("standard input") : path;
  QFile file;
  bool opened;
  if (standardInput) {
    opened = file.open(stdin, QIODevice::ReadOnly);
  } else {
    file.setFileName(path);
    opened = file.open(QIODevice::ReadOnly);
  }
  if (!opened) {
    error = QStringLiteral("%1: %2").arg(name, file.errorString());
    return std::nullopt;
  }
  QStringDecoder decoder(QStringDecoder::Utf8);
  BodyMeasure body;
  QByteArray chunk;
  QByteArray tail;  // the end of the input so far
  for (;;) {
    chunk = file.read(kChunkBytes);
    if (chunk.isEmpty()) break;
    tail = (tail + chunk.right(4)).right(4);
    const QString text = decoder.decode(chunk);
    body.Add(text);
    if (decoder.hasError()) break;
  }
  if (file.error() != QFileDevice::NoError) {
    error = QStringLiteral("%1: %2").arg(name, file.errorString());
    return std::nullopt;
  }
  if (decoder.hasError() || EndsInsideSequence(tail)) {
    error = QStringLiteral("%1: not valid UTF-8").arg(name);
    return std::nullopt;
  }
  return body.Bytes();
}

}  // namespace

bool WantsCommandLine(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    for (const char* option : {"--measure", "--help", "-h", "-?", "--help-all", "--version", "-v",
                               "--own", "--subject"}) {
      const std::size_t n = std::strlen(option);
      if (std::strncmp(argv[i], option, n) == 0 && (argv[i][n] == '\0' || argv[i][n] == '=')) {
        return true;
      }
    }
  }
  return false;
}

int RunCommandLine() {
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Measures a short mail against a mobile mail service's limits.\n"
      "Without options, opens the window.\n\n"
      "--measure prints the number the counter shows in byte mode, a TAB and the title\n"
      "the window shows, in UTF-8. Exit status: 0 within every limit, 1 past one, 2 on\n"
      "an error. The body comes from FILE, or standard input when FILE is absent or \"-\",\n"
      "as UTF-8; every line break in it counts as CR LF."));
  parser.addHelpOption();
  parser.addVersionOption();
  const QCommandLineOption measure(
      QStringLiteral("measure"),
      QStringLiteral("Measure a message instead of opening the window."));
  const QCommandLineOption own(QStringLiteral("own"), QStringLiteral("The own address."),
                               QStringLiteral("ADDRESS"));
  const QCommandLineOption subject(QStringLiteral("subject"), QStringLiteral("The subject."),
                                   QStringLiteral("SUBJECT"));
  parser.addOptions({measure, own, subject});
  parser.addPositionalArgument(QStringLiteral("FILE"),
                               QStringLiteral("The body (standard input if absent or -)."),
                               QStringLiteral("[FILE]"));

  if (!parser.parse(QCoreApplication::arguments())) {
    PrintError(parser.errorText());
    return kUsageError;
  }
  if (parser.isSet(QStringLiteral("help"))) parser.showHelp(0);
  if (parser.isSet(QStringLiteral("help-all"))) parser.showHelp(0);
  if (parser.isSet(QStringLiteral("version"))) parser.showVersion();
  if (!parser.isSet(measure)) {
    PrintError(QStringLiteral("--own, --subject and FILE go with --measure"));
    return kUsageError;
  }
  const QStringList files = parser.positionalArguments();
  if (files.size() > 1) {
    PrintError(QStringLiteral("one FILE at most, not %1").arg(files.size()));
    return kUsageError;
  }

  QString error;
  const auto bodyBytes = MeasureBody(files.value(0), error);
  if (!bodyBytes) {
    PrintError(error);
    return kUsageError;
  }
  const QString ownAddress = parser.value(own);
  const QString subjectText = parser.value(subject);
  const std::int64_t addressCount = LenMbcs(View(ownAddress));
  const std::int64_t subjectCount = LenMbcsRuns(View(subjectText));
  const std::int64_t total = MessageTotal(*bodyBytes, addressCount, subjectCount);
  const Title title = ChooseTitle(addressCount, subjectCount, total);
  const QByteArray line =
      QByteArray::number(total) + '\t' + ToQString(TitleText(title)).toUtf8() + '\n';
  std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stdout);
  return title == Title::Plain ? 0 : 1;
}

}  // namespace kelmo
