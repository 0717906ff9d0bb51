// `kelmo --measure`, run as a script would run it, against the window filled alike.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "message/limits.h"
#include "support/sandbox.h"
#include "support/send_ways.h"
#include "utf16/utf16.h"
#include "window/main_form.h"

using namespace Qt::StringLiterals;

namespace kelmo {
namespace {

const QString kKelmoBinary = QStringLiteral(KELMO_BINARY);

struct Outcome {
  int status = -1;
  QByteArray out;
  QByteArray err;
};

// Runs the program with no display of any kind, `input` on standard input.
Outcome Kelmo(const QStringList& arguments, const QByteArray& input = {},
              const QString& directory = {}, const QString& program = kKelmoBinary) {
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    environment.remove(QString::fromLatin1(name));
  }
  // Under AddressSanitizer freed memory waits in a quarantine; without it the peak
  // memory measures the program, not the sanitizer.
  environment.insert(u"ASAN_OPTIONS"_s,
                     environment.value(u"ASAN_OPTIONS"_s) +
                         u":quarantine_size_mb=0:thread_local_quarantine_size_kb=0"_s);
  QProcess process;
  process.setProcessEnvironment(environment);
  if (!directory.isEmpty()) process.setWorkingDirectory(directory);
  process.start(program, arguments);
  process.write(input);
  process.closeWriteChannel();
  EXPECT_TRUE(process.waitForFinished(60000));
  return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
          process.readAllStandardOutput(), process.readAllStandardError()};
}

// What the window shows for the same fields: counter and title.
QByteArray WindowSays(const QString& own, const QString& subject, const QString& body) {
  const testing::SandboxDir folder;
  MainForm form(testing::SystemSendWays(), QDir(folder.Path()));
  form.findChild<QLineEdit*>(u"ownAddress"_s)->setText(own);
  form.findChild<QLineEdit*>(u"subject"_s)->setText(subject);
  form.findChild<QPlainTextEdit*>(u"body"_s)->setPlainText(body);
  QByteArray line = form.findChild<QLabel*>(u"counter"_s)->text().toUtf8();
  return line + '\t' + form.windowTitle().toUtf8() + '\n';
}

TEST(measure_command, counts_as_the_window_does) {
  struct Row {
    const char* name;
    QString own;
    QString subject;
    QByteArray body;  // UTF-8, as in the file
    int status;
  };
  const QByteArray longBody = QByteArray("a").repeated(334);
  const Row rows[] = {
      {"empty", u""_s, u""_s, "", 0},
      {"japanese", u"me@example.jp"_s, u"件名テスト"_s, "明日は三時から。\n資料を。\n", 0},
      {"crlf_lf_and_cr_alike", u""_s, u""_s, "a\r\nb\nc\rd", 0},
      {"final_line_break_counts", u""_s, u""_s, "abc\n", 0},
      {"emoji_and_halfwidth", u""_s, u""_s, "\xf0\x9f\x98\x80\xef\xbd\xb1", 0},
      {"over_384", u""_s, u""_s, longBody, 1},
      {"address_over_55", QString(56, QLatin1Char('a')), u""_s, "x", 1},
      {"subject_over_40", u""_s, QString(20, QChar(u'漢')), "", 1},
      {"bom_at_the_start_is_not_text", u""_s, u""_s,
       "\xef\xbb\xbf"
       "abc",
       0},
      {"subject_with_a_line_break_as_the_field_holds_it", u""_s, u"a\nb"_s, "", 0},
      {"own_address_pasted_with_its_line_break", QString(55, u'a') + u"\r\n"_s, u""_s, "x", 0},
      {"line_separator_is_a_line_break", u""_s, u""_s, QByteArray(332, 'a') + "\xE2\x80\xA8", 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    QStringList arguments = {u"--measure"_s};
    if (!row.own.isEmpty()) arguments << u"--own"_s << row.own;
    if (!row.subject.isEmpty()) arguments << QStringLiteral("--subject=%1").arg(row.subject);
    const Outcome run = Kelmo(arguments, row.body);
    EXPECT_EQ(run.status, row.status) << run.err.toStdString();
    EXPECT_EQ(run.out, WindowSays(row.own, row.subject, QString::fromUtf8(row.body)));
    EXPECT_TRUE(run.err.isEmpty());
  }
}

TEST(measure_command, body_from_a_file_or_dash) {
  testing::ScratchDir dir;
  testing::WriteAll(u"body.txt"_s, "abc\n");
  EXPECT_EQ(Kelmo({u"--measure"_s, u"body.txt"_s}, {}, dir.Path()).out, "56\tKelmo\n");
  EXPECT_EQ(Kelmo({u"--measure"_s, u"-"_s}, "abc\n", dir.Path()).out, "56\tKelmo\n");
  // Nothing the window keeps is read or written.
  EXPECT_FALSE(QFile::exists(dir.Path() + u"/kelmo.ini"_s));
  EXPECT_FALSE(QFile::exists(dir.Path() + u"/temp.tmp"_s));
}

// Several files as wc takes them: a line each in the order given, the name last and
// escaped so that each file keeps to its line; a file that cannot be read is named on
// standard error and the others are still measured.
TEST(measure_command, several_files_a_line_each) {
  testing::ScratchDir dir;
  const QByteArray within = "abc\n";             // 56
  const QByteArray over = QByteArray(334, 'a');  // 385, past 384
  const QByteArray overTitle = (ToQString(TitleText(Title::kMessageTooLong))).toUtf8();
  for (const char* name :
       {"a.txt", "b.txt", "c.txt", "with space.txt", "line\nbreak.txt", "tab\there.txt",
        "back\\slash.txt", "cr\rhere.txt", "-dash.txt", "\xff.txt", "日本語.txt"}) {
    // Written by its bytes: "\xff.txt" has no name Qt would convert back to them.
    std::FILE* file = std::fopen((QFile::encodeName(dir.Path()) + '/' + name).constData(), "wb");
    ASSERT_NE(file, nullptr) << name;
    const QByteArray& body = std::string_view(name) == "b.txt" ? over : within;
    EXPECT_EQ(std::fwrite(body.constData(), 1, static_cast<std::size_t>(body.size()), file),
              static_cast<std::size_t>(body.size()));
    std::fclose(file);
  }
  struct Row {
    const char* name;
    QStringList files;
    QByteArray input;  // standard input
    int status;
    QByteArray out;
    const char* errMentions;  // nullptr: nothing on standard error
  };
  const Row rows[] = {
      {"in_the_order_given",
       {u"c.txt"_s, u"a.txt"_s},
       {},
       0,
       "56\tKelmo\tc.txt\n56\tKelmo\ta.txt\n",
       nullptr},
      {"one_past_a_limit_exits_1",
       {u"a.txt"_s, u"b.txt"_s, u"c.txt"_s},
       {},
       1,
       "56\tKelmo\ta.txt\n385\t" + overTitle + "\tb.txt\n56\tKelmo\tc.txt\n",
       nullptr},
      {"missing_file_among_others_exits_2",
       {u"a.txt"_s, u"missing.txt"_s, u"c.txt"_s},
       {},
       2,
       "56\tKelmo\ta.txt\n56\tKelmo\tc.txt\n",
       "missing.txt"},
      {"an_error_outweighs_a_limit",
       {u"b.txt"_s, u"."_s},
       {},
       2,
       "385\t" + overTitle + "\tb.txt\n",
       "directory"},
      {"invalid_utf8_from_standard_input",
       {u"-"_s, u"a.txt"_s},
       "ab\xff",
       2,
       "56\tKelmo\ta.txt\n",
       "standard input"},
      {"standard_input_among_files_is_named_dash",
       {u"a.txt"_s, u"-"_s},
       over,
       1,
       "56\tKelmo\ta.txt\n385\t" + overTitle + "\t-\n",
       nullptr},
      {"odd_names_escaped",
       {u"with space.txt"_s, u"line\nbreak.txt"_s, u"tab\there.txt"_s, u"back\\slash.txt"_s,
        u"cr\rhere.txt"_s, u"日本語.txt"_s},
       {},
       0,
       "56\tKelmo\twith space.txt\n56\tKelmo\tline\\x0abreak.txt\n56\tKelmo\ttab\\x09here.txt\n"
       "56\tKelmo\tback\\\\slash.txt\n56\tKelmo\tcr\\x0dhere.txt\n"
       "56\tKelmo\t\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e.txt\n",
       nullptr},
      {"dash_name_after_double_dash",
       {u"--"_s, u"-dash.txt"_s, u"a.txt"_s},
       {},
       0,
       "56\tKelmo\t-dash.txt\n56\tKelmo\ta.txt\n",
       nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const Outcome run = Kelmo(QStringList{u"--measure"_s} + row.files, row.input, dir.Path());
    EXPECT_EQ(run.status, row.status) << run.err.toStdString();
    EXPECT_EQ(run.out, row.out);
    if (row.errMentions == nullptr) {
      EXPECT_TRUE(run.err.isEmpty()) << run.err.toStdString();
    } else {
      EXPECT_TRUE(run.err.contains(row.errMentions)) << run.err.toStdString();
      EXPECT_EQ(run.err.count('\n'), 1) << run.err.toStdString();
    }
  }
  // A name that is not UTF-8 shows its byte escaped: QProcess would convert the argument,
  // so the shell passes it.
  const Outcome notUtf8 = Kelmo(
      {u"-c"_s, QStringLiteral("cd '%1' && exec '%2' --measure a.txt \"$(printf '\\377').txt\"")
                    .arg(dir.Path(), kKelmoBinary)},
      {}, {}, u"/bin/sh"_s);
  EXPECT_EQ(notUtf8.status, 0) << notUtf8.err.toStdString();
  EXPECT_EQ(notUtf8.out, "56\tKelmo\ta.txt\n56\tKelmo\t\\xff.txt\n");
  // Nor could the scratch folder remove it.
  EXPECT_EQ(std::remove((QFile::encodeName(dir.Path()) + "/\xff.txt").constData()), 0);
  // One FILE prints what it always has: no name.
  EXPECT_EQ(Kelmo({u"--measure"_s, u"line\nbreak.txt"_s}, {}, dir.Path()).out, "56\tKelmo\n");
}

TEST(measure_command, errors_exit_2_with_a_message_and_nothing_on_stdout) {
  struct Row {
    const char* name;
    QStringList arguments;
    QByteArray input;
    const char* mentions;
  };
  const Row rows[] = {
      {"invalid_utf8", {u"--measure"_s}, "ab\xff", "UTF-8"},
      {"cut_off_utf8", {u"--measure"_s}, "ab\xe3\x81", "UTF-8"},
      {"overlong_utf8", {u"--measure"_s}, "\xe0\x80\xaf", "UTF-8"},
      {"surrogate_in_utf8", {u"--measure"_s}, "\xed\xa0\x80", "UTF-8"},
      {"missing_file", {u"--measure"_s, u"/nonexistent/body.txt"_s}, "", "/nonexistent/body.txt"},
      {"directory", {u"--measure"_s, u"/"_s}, "", "directory"},
      {"unknown_option", {u"--measure"_s, u"--frobnicate"_s}, "", "frobnicate"},
      {"missing_value", {u"--measure"_s, u"--own"_s}, "", "kelmo: missing value after '--own'\n"},
      {"no_measure", {u"--own"_s, u"me@x.jp"_s}, "", "--measure"},
      {"value_for_a_flag", {u"--measure=yes"_s}, "", "--measure"},
      {"unknown_short_option", {u"--measure"_s, u"-hx"_s}, "", "kelmo: unknown option '-x'\n"},
      {"unknown_option_with_a_value",
       {u"--measure"_s, u"--frob=1"_s},
       "",
       "kelmo: unknown option '--frob'\n"},
      {"value_for_a_flag_said_so", {u"--help=all"_s}, "", "kelmo: '--help' takes no value\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const Outcome run = Kelmo(row.arguments, row.input);
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.out.isEmpty());
    EXPECT_TRUE(run.err.contains(row.mentions)) << run.err.toStdString();
    // In Kelmo's one voice: "kelmo: what is wrong", without a capital or a full stop.
    const QByteArray first = run.err.left(run.err.indexOf('\n'));
    EXPECT_TRUE(first.startsWith("kelmo: ") && !first.endsWith('.') &&
                !QChar::fromLatin1(first.at(7)).isUpper())
        << run.err.toStdString();
  }
}

TEST(measure_command, option_forms) {
  testing::ScratchDir dir;
  testing::WriteAll(u"-body.txt"_s, "abc\n");
  EXPECT_EQ(Kelmo({u"--measure"_s, u"--own=me@example.jp"_s, u"--subject"_s, u"x"_s}).out,
            "65\tKelmo\n");
  // After "--" a name that starts with "-" is the file.
  EXPECT_EQ(Kelmo({u"--measure"_s, u"--"_s, u"-body.txt"_s}, {}, dir.Path()).out, "56\tKelmo\n");
}

// Runs kelmo through the shell with `arguments`, whose printf escapes make the bytes that
// QProcess, which takes text, cannot pass.
Outcome KelmoWithBytes(const QString& arguments, const QByteArray& input = {}) {
  return Kelmo({u"-c"_s, QStringLiteral("exec '%1' %2").arg(kKelmoBinary, arguments)}, input, {},
               u"/bin/sh"_s);
}

// --own and --subject follow the body's rule: text that is not UTF-8 is refused in one
// line, not measured as replacement characters.
TEST(measure_command, fields_that_are_not_utf8_are_refused) {
  struct Row {
    const char* name;
    const char* arguments;
    const char* says;
  };
  const Row rows[] = {
      {"own_after_equals", R"sh(--measure --own="$(printf 'me\377\376')")sh",
       "kelmo: --own: not valid UTF-8: 'me\\xff\\xfe'\n"},
      {"own_as_next_argument", R"sh(--own "$(printf '\343\201')" --measure)sh",
       "kelmo: --own: not valid UTF-8: '\\xe3\\x81'\n"},
      {"subject_in_shift_jis", R"sh(--measure --subject "$(printf '\202\240')")sh",
       "kelmo: --subject: not valid UTF-8: '\\x82\\xa0'\n"},
      {"surrogate_in_subject", R"sh(--measure --subject="$(printf '\355\240\200')")sh",
       "kelmo: --subject: not valid UTF-8: '\\xed\\xa0\\x80'\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const Outcome run = KelmoWithBytes(QString::fromUtf8(row.arguments), "abc");
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.out.isEmpty()) << run.out.toStdString();
    EXPECT_EQ(run.err, row.says);
  }
  // Valid UTF-8 of every length is measured.
  EXPECT_EQ(
      KelmoWithBytes(
          QString::fromUtf8(
              R"sh(--measure --own="$(printf 'a\302\251\344\270\200\360\237\230\200')" </dev/null)sh"))
          .status,
      0);
}

// Names and arguments are echoed with their control and bidirectional formatting
// characters, and bytes that are not UTF-8, as \xHH (a backslash as \\), so that none
// reaches the terminal as a command.
TEST(measure_command, control_bytes_in_messages_are_escaped) {
  struct Row {
    const char* name;
    const char* arguments;
    const char* shown;
  };
  const Row rows[] = {
      {"escape_in_a_file_name", R"sh(--measure "$(printf '/nonexistent/\033[2Jx')")sh",
       "/nonexistent/\\x1b[2Jx: "},
      {"carriage_return_in_a_file_name", R"sh(--measure "$(printf '/nonexistent/a\rb')")sh",
       "/nonexistent/a\\x0db: "},
      {"c1_control_in_a_file_name", R"sh(--measure "$(printf '/nonexistent/\302\233c')")sh",
       "/nonexistent/\\xc2\\x9bc: "},
      {"right_to_left_override_in_a_file_name",
       R"sh(--measure "$(printf '/nonexistent/\342\200\256txt.exe')")sh",
       "/nonexistent/\\xe2\\x80\\xaetxt.exe: "},
      {"shift_jis_file_name", R"sh(--measure "$(printf '/nonexistent/\202\240')")sh",
       "/nonexistent/\\x82\\xa0: "},
      {"backslash_and_japanese_kept_readable", R"sh(--measure '/nonexistent/a\x1b本')sh",
       "/nonexistent/a\\\\x1b本: "},
      {"unknown_option", R"sh(--measure "$(printf -- '--\033]0;owned\007')")sh",
       "unknown option '--\\x1b]0;owned\\x07'"},
      {"missing_value", R"sh(--measure "$(printf -- '--own')")sh", "missing value after '--own'"},
      {"file_for_the_window", R"sh("$(printf 'a\033b\nc')")sh", "'a\\x1bb\\x0ac': the window"},
      {"unknown_window_option", R"sh("$(printf -- '-\177x')")sh", "unknown option '-\\x7fx'"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const Outcome run = KelmoWithBytes(QString::fromUtf8(row.arguments));
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.err.contains(row.shown)) << run.err.toStdString();
    const QString err = QString::fromUtf8(run.err);
    EXPECT_FALSE(std::any_of(err.begin(), err.end(), [](QChar c) {
      return c != u'\n' && (c < u' ' || (c >= u'\x7f' && c <= u'\x9f') ||
                            c == QChar::ReplacementCharacter || c.direction() == QChar::DirRLO);
    })) << run.err.toStdString();
  }
}

// The result is not reported as written when it could not be: a full device, or no
// standard output at all.
TEST(measure_command, output_that_cannot_be_written_is_an_error) {
  for (const char* redirect : {">/dev/full", ">&-"}) {
    const QString script = QStringLiteral("exec '%1' --measure </dev/null %2")
                               .arg(kKelmoBinary, QString::fromLatin1(redirect));
    const Outcome run = Kelmo({u"-c"_s, script}, {}, {}, u"/bin/sh"_s);
    EXPECT_EQ(run.status, 2) << redirect;
    EXPECT_TRUE(run.err.contains("standard output")) << redirect << ": " << run.err.toStdString();
  }
}

// An endless body is measured as it streams, in the same few MiB, until it is stopped.
TEST(measure_command, endless_input_keeps_its_memory) {
  QProcess kelmo;
  kelmo.start(kKelmoBinary, {u"--measure"_s, u"/dev/zero"_s});
  ASSERT_TRUE(kelmo.waitForStarted(10000));
  auto residentKiB = [&] {
    return testing::ProcessMemoryKiB("VmRSS", QString::number(kelmo.processId()));
  };
  QTest::qWait(300);
  const long early = residentKiB();
  QTest::qWait(1200);  // gigabytes by now
  const long late = residentKiB();
  EXPECT_EQ(kelmo.state(), QProcess::Running);
  kelmo.kill();
  kelmo.waitForFinished(10000);
  EXPECT_GT(early, 0);
#if !defined(__SANITIZE_ADDRESS__)  // the sanitizer's own memory is no part of Kelmo's
  EXPECT_LT(late, 20 * 1024) << "KiB";
#endif
  EXPECT_LT(late - early, 1024) << "KiB: it grows";
}

// The command line answers without loading Qt: that is most of what makes it fast.
TEST(measure_command, needs_no_qt) {
  QProcess readelf;
  readelf.start(u"readelf"_s, {u"--dynamic"_s, kKelmoBinary});
  ASSERT_TRUE(readelf.waitForFinished(30000));
  const QByteArray needed = readelf.readAllStandardOutput();
  EXPECT_TRUE(needed.contains("(NEEDED)")) << needed.toStdString();
  EXPECT_FALSE(needed.contains("libQt6")) << needed.toStdString();
}

TEST(measure_command, missing_window_program_is_reported) {
  testing::ScratchDir dir;
  ASSERT_TRUE(QFile::copy(kKelmoBinary, dir.Path() + u"/kelmo"_s));
  const Outcome run =
      Kelmo({u"-platform"_s, u"offscreen"_s}, {}, dir.Path(), dir.Path() + u"/kelmo"_s);
  EXPECT_EQ(run.status, 127);
  EXPECT_TRUE(run.err.contains("kelmo-window")) << run.err.toStdString();
}

// What the window does not take is refused before anything starts: a usage error naming
// it and pointing to --help; and without a display, a line that says so.
TEST(measure_command, the_window_refuses_what_it_does_not_take) {
  struct Row {
    const char* name;
    QStringList arguments;
    int status;
    const char* mentions;
  };
  const Row rows[] = {
      {"misspelt_option", {u"--mesure"_s}, 2, "unknown option '--mesure'"},
      {"unknown_short_option", {u"-x"_s}, 2, "unknown option '-x'"},
      {"a_file_without_measure", {u"body.txt"_s}, 2, "--measure"},
      {"qt_option_without_its_value", {u"-style"_s}, 2, "missing value after '-style'"},
      {"no_display", {}, 3, "no display"},
      {"no_display_with_a_qt_option", {u"-style"_s, u"fusion"_s}, 3, "kelmo --measure"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const Outcome run = Kelmo(row.arguments);
    EXPECT_EQ(run.status, row.status);
    EXPECT_TRUE(run.out.isEmpty());
    EXPECT_TRUE(run.err.contains(row.mentions)) << run.err.toStdString();
    EXPECT_LE(run.err.count('\n'), 2) << run.err.toStdString();
    if (row.status == 2) {
      EXPECT_TRUE(run.err.contains("--help")) << run.err.toStdString();
    }
  }
}

// Where glibc's code page 932 converter is missing (hidden here in a mount namespace of
// our own), both programs say what is missing instead of aborting.
TEST(measure_command, a_missing_cp932_converter_is_named) {
  QString gconv;
  for (const QString& lib : QDir(u"/usr/lib"_s).entryList({u"*-linux-gnu*"_s}, QDir::Dirs)) {
    if (QFile::exists(u"/usr/lib/"_s + lib + u"/gconv/CP932.so"_s))
      gconv = u"/usr/lib/"_s + lib + u"/gconv"_s;
  }
  if (gconv.isEmpty()) GTEST_SKIP() << "no gconv folder found";
  if (QProcess::execute(u"unshare"_s, {u"-rm"_s, u"true"_s}) != 0) {
    GTEST_SKIP() << "no user namespaces here";
  }
  const QString hide = QStringLiteral("mount -t tmpfs none '%1' && exec \"$@\"").arg(gconv);
  const Outcome measure =
      Kelmo({u"-rm"_s, u"sh"_s, u"-c"_s, hide, u"sh"_s, kKelmoBinary, u"--measure"_s},
            "\xe3\x81\x82", {}, u"unshare"_s);
  EXPECT_EQ(measure.status, 2);
  EXPECT_TRUE(measure.out.isEmpty());
  EXPECT_TRUE(measure.err.contains("no code page 932 converter")) << measure.err.toStdString();
  EXPECT_TRUE(measure.err.contains("CP932")) << measure.err.toStdString();

  // The window says the same in a box, which waits here for an OK nobody clicks.
  QProcess window;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
  window.setProcessEnvironment(environment);
  window.start(u"unshare"_s, {u"-rm"_s, u"sh"_s, u"-c"_s, hide, u"sh"_s, kKelmoBinary});
  QByteArray said;
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        window.waitForReadyRead(50);
        said += window.readAllStandardError();
        return said.contains("no code page 932 converter") ||
               window.state() == QProcess::NotRunning;
      },
      20000));
  EXPECT_TRUE(said.contains("no code page 932 converter")) << said.toStdString();
  window.kill();
  window.waitForFinished(5000);
}

TEST(measure_command, help_and_version) {
  const Outcome help = Kelmo({u"--help"_s});
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(help.out.contains("--measure")) << help.out.toStdString();
  // Written for Kelmo, not the toolkit's generic lines.
  EXPECT_FALSE(help.out.contains("Displays")) << help.out.toStdString();
  EXPECT_TRUE(help.out.contains("Show the options and exit.")) << help.out.toStdString();
  // The window's form and the measuring form, each on a line of its own.
  EXPECT_TRUE(help.out.startsWith("Usage: kelmo [Qt options]\n       kelmo --measure"))
      << help.out.toStdString();
  const Outcome version = Kelmo({u"--version"_s});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "Kelmo " KELMO_VERSION "\n");
}

// 10 MiB of body are read in chunks: the memory used does not grow with them. The file is
// written piece by piece, so that this process, which every child starts as a copy of,
// stays small too.
TEST(measure_command, large_input_is_streamed) {
  testing::ScratchDir dir;
  testing::WriteAll(u"small.txt"_s, "a\n");
  const QByteArray line = QString(u"日本語の本文です。abc\n"_s).toUtf8();
  const qint64 lines = (10 << 20) / line.size();
  {
    QFile big(u"big.txt"_s);
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    const QByteArray piece = line.repeated(1000);
    for (qint64 n = 0; n < lines; n += 1000) {
      ASSERT_EQ(big.write(n + 1000 <= lines ? piece : line.repeated(lines - n)),
                n + 1000 <= lines ? piece.size() : line.size() * (lines - n));
    }
  }
  rusage usage{};
  EXPECT_EQ(Kelmo({u"--measure"_s, dir.Path() + u"/small.txt"_s}).status, 0);
  ::getrusage(RUSAGE_CHILDREN, &usage);
  const long smallPeakKiB = usage.ru_maxrss;

  // Per line: 9 double-byte characters in one run (18 + 6), "abc" and CR LF.
  const QByteArray expected = QByteArray::number(51 + lines * (24 + 3 + 2)) + '\t' +
                              (ToQString(TitleText(Title::kMessageTooLong)) + u'\n').toUtf8();
  const Outcome fromFile = Kelmo({u"--measure"_s, dir.Path() + u"/big.txt"_s});
  EXPECT_EQ(fromFile.status, 1);
  EXPECT_EQ(fromFile.out, expected);
  const Outcome fromStdin =
      Kelmo({u"-c"_s, u"exec '%1' --measure < '%2/big.txt'"_s.arg(kKelmoBinary, dir.Path())}, {},
            {}, u"/bin/sh"_s);
  EXPECT_EQ(fromStdin.out, expected);
  ::getrusage(RUSAGE_CHILDREN, &usage);
  EXPECT_LT(usage.ru_maxrss - smallPeakKiB, 4 * 1024) << "peak KiB " << usage.ru_maxrss;
}

}  // namespace
}  // namespace kelmo
