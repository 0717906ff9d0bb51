// `kelmo --split`, run as a script would run it and read back as a script would.
#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>
#include <optional>
#include <vector>

using namespace Qt::StringLiterals;

namespace kelmo {
namespace {

struct Outcome {
  int status = -1;
  QByteArray out;
  QByteArray err;
};

Outcome Kelmo(const QStringList& arguments, const QByteArray& input = {}) {
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    environment.remove(QString::fromLatin1(name));
  }
  QProcess process;
  process.setProcessEnvironment(environment);
  process.start(QStringLiteral(KELMO_BINARY), arguments);
  process.write(input);
  process.closeWriteChannel();
  EXPECT_TRUE(process.waitForFinished(60000));
  return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
          process.readAllStandardOutput(), process.readAllStandardError()};
}

struct Part {
  int number = 0;
  int count = 0;
  QByteArray body;
};

// The parts as the help says to read them: a line "n/N LENGTH", LENGTH bytes, a line feed.
std::optional<std::vector<Part>> ReadBack(const QByteArray& out) {
  std::vector<Part> parts;
  qsizetype at = 0;
  while (at < out.size()) {
    const qsizetype lineEnd = out.indexOf('\n', at);
    if (lineEnd < 0) return std::nullopt;
    const QList<QByteArray> header = out.mid(at, lineEnd - at).split(' ');
    if (header.size() != 2) return std::nullopt;
    const QList<QByteArray> numbers = header[0].split('/');
    bool ok = numbers.size() == 2;
    Part part;
    part.number = ok ? numbers[0].toInt(&ok) : 0;
    part.count = ok ? numbers[1].toInt(&ok) : 0;
    const qsizetype length = ok ? header[1].toLongLong(&ok) : 0;
    if (!ok || lineEnd + 1 + length >= out.size() || out[lineEnd + 1 + length] != '\n') {
      return std::nullopt;
    }
    part.body = out.mid(lineEnd + 1, length);
    parts.push_back(part);
    at = lineEnd + 1 + length + 1;
  }
  return parts;
}

TEST(split_command, a_message_that_fits_is_one_part_without_a_marker) {
  const Outcome outcome = Kelmo({u"--split"_s}, "明日は三時から。\n資料を。\n");
  EXPECT_EQ(outcome.status, 0) << outcome.err.constData();
  const QByteArray body = "明日は三時から。\r\n資料を。\r\n";
  EXPECT_EQ(outcome.out, "1/1 " + QByteArray::number(body.size()) + '\n' + body + '\n');
  EXPECT_TRUE(outcome.err.isEmpty());
}

// Each part read back fits by `kelmo --measure`, carries its marker, and the shares joined
// (with a line break where a cut dropped one) give back the body.
TEST(split_command, parts_read_back_fit_and_join) {
  struct Row {
    const char* name;
    QByteArray body;  // UTF-8, LF line breaks
    QString own;
    QString subject;
    int parts;
  };
  const Row rows[] = {
      {"one_long_line", QByteArray("a").repeated(700), u""_s, u""_s, 3},
      {"paragraphs", (QByteArray("a").repeated(300) + '\n').repeated(3), u""_s, u""_s, 3},
      {"japanese_with_fields", QByteArray("今日は雨。").repeated(60), u"me@example.jp"_s, u"件名"_s,
       3},
      {"emoji_and_kana", QByteArray("ｶﾞ😀👍🏽").repeated(80), u""_s, u""_s, 2},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const Outcome outcome =
        Kelmo({u"--split"_s, u"--own"_s, row.own, u"--subject"_s, row.subject}, row.body);
    ASSERT_EQ(outcome.status, 0) << outcome.err.constData();
    const std::optional<std::vector<Part>> parts = ReadBack(outcome.out);
    ASSERT_TRUE(parts.has_value()) << outcome.out.left(200).constData();
    ASSERT_EQ(static_cast<int>(parts->size()), row.parts);
    QByteArray joined;
    const QByteArray crlfBody = QByteArray(row.body).replace("\n", "\r\n");
    for (std::size_t k = 0; k < parts->size(); ++k) {
      const Part& part = (*parts)[k];
      EXPECT_EQ(part.number, static_cast<int>(k) + 1);
      EXPECT_EQ(part.count, row.parts);
      const QByteArray marker =
          '(' + QByteArray::number(part.number) + '/' + QByteArray::number(part.count) + ")\r\n";
      ASSERT_TRUE(part.body.startsWith(marker));
      const QByteArray share = part.body.mid(marker.size());
      if (k > 0 && !crlfBody.mid(joined.size()).startsWith(share)) joined += "\r\n";
      joined += share;
      // The part as a body of its own, in the window's measure.
      const Outcome measured =
          Kelmo({u"--measure"_s, u"--own"_s, row.own, u"--subject"_s, row.subject}, part.body);
      EXPECT_EQ(measured.status, 0) << measured.out.constData();
    }
    EXPECT_EQ(joined, crlfBody);
  }
}

TEST(split_command, the_window_s_line_breaks_and_no_byte_order_mark) {
  const Outcome outcome = Kelmo({u"--split"_s}, "\xEF\xBB\xBFone\u2028two\rthree\r\n");
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, "1/1 17\none\r\ntwo\r\nthree\r\n\n");
}

TEST(split_command, when_splitting_cannot_help_exit_1_and_print_nothing) {
  struct Row {
    const char* name;
    QStringList arguments;
    QByteArray body;
    const char* says;
  };
  const Row rows[] = {
      {"own_address_past", {u"--own"_s, QString(56, u'a')}, "hello", "own address"},
      {"subject_past", {u"--subject"_s, QString(41, u'a')}, QByteArray(500, 'a'), "subject"},
      {"hundred_parts", {}, QByteArray(40000, 'a'), "99 parts"},
      {"far_too_long", {}, QByteArray(1 << 20, 'a'), "99 parts"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const Outcome outcome = Kelmo(QStringList{u"--split"_s} + row.arguments, row.body);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_TRUE(outcome.out.isEmpty());
    EXPECT_TRUE(outcome.err.startsWith("kelmo: ")) << outcome.err.constData();
    EXPECT_TRUE(outcome.err.contains(row.says)) << outcome.err.constData();
  }
}

TEST(split_command, errors_exit_2) {
  const QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  struct Row {
    const char* name;
    QStringList arguments;
    QByteArray input;
    const char* says;
  };
  const Row rows[] = {
      {"missing_file", {u"--split"_s, folder.filePath(u"none.txt"_s)}, {}, "No such file"},
      {"directory", {u"--split"_s, folder.path()}, {}, "directory"},
      {"not_utf8", {u"--split"_s}, "caf\xE9", "not valid UTF-8"},
      {"two_files", {u"--split"_s, u"a"_s, u"b"_s}, {}, "one FILE"},
      {"with_measure", {u"--split"_s, u"--measure"_s}, {}, "do not go together"},
      {"unknown_option", {u"--split"_s, u"--parts"_s}, {}, "unknown option"},
      {"split_takes_no_value", {u"--split=3"_s}, {}, "takes no value"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const Outcome outcome = Kelmo(row.arguments, row.input);
    EXPECT_EQ(outcome.status, 2);
    EXPECT_TRUE(outcome.out.isEmpty());
    EXPECT_TRUE(outcome.err.contains(row.says)) << outcome.err.constData();
  }
}

TEST(split_command, help_shows_it) {
  const Outcome outcome = Kelmo({u"--help"_s});
  EXPECT_TRUE(outcome.out.contains("kelmo --split [--own ADDRESS] [--subject SUBJECT] [FILE]"));
  EXPECT_TRUE(outcome.out.contains("  --split "));
}

}  // namespace
}  // namespace kelmo
