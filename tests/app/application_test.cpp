#include "app/application.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <QAction>
#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <memory>
#include <stdexcept>
#include <system_error>

#include "fileio/file_io.h"
#include "support/fake_programs.h"
#include "support/sandbox.h"
#include "support/send_ways.h"
#include "window/main_form.h"

using namespace Qt::StringLiterals;

namespace kelmo {
namespace {

TEST(application, fatal_report_gives_number_and_description) {
  struct Row {
    const char* name;
    std::exception_ptr error;
    int number;
    const char* mentions;
  };
  const Row rows[] = {
      {"system_error",
       std::make_exception_ptr(std::system_error(EACCES, std::generic_category(), "open x")),
       EACCES, "open x"},
      {"bad_alloc", std::make_exception_ptr(std::bad_alloc()), ENOMEM, ""},
      {"runtime_error", std::make_exception_ptr(std::runtime_error("broken state")), -1,
       "broken state"},
      {"not_an_exception", std::make_exception_ptr(42), -1, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const Error report = DescribeFatal(row.error);
    EXPECT_EQ(report.number, row.number);
    EXPECT_FALSE(report.description.isEmpty());
    EXPECT_TRUE(report.description.contains(QLatin1String(row.mentions)));
  }
}

// The editors' own context menus speak Japanese like the rest of the window.
TEST(application, qt_texts_are_japanese) {
  const QString catalog =
      QLibraryInfo::path(QLibraryInfo::TranslationsPath) + QStringLiteral("/qtbase_ja.qm");
  if (!QFile::exists(catalog)) GTEST_SKIP() << catalog.toStdString() << " is not installed";
  ASSERT_TRUE(InstallQtTranslations(*QCoreApplication::instance()));
  QPlainTextEdit body;
  QLineEdit field;
  const std::unique_ptr<QMenu> menus[] = {
      std::unique_ptr<QMenu>(body.createStandardContextMenu()),
      std::unique_ptr<QMenu>(field.createStandardContextMenu())};
  for (const std::unique_ptr<QMenu>& menu : menus) {
    int entries = 0;
    for (const QAction* action : menu->actions()) {
      if (action->isSeparator()) continue;
      ++entries;
      const QString text = action->text();
      EXPECT_TRUE(std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() > 0xFF; }))
          << "an English entry: " << text.toStdString();
    }
    EXPECT_GE(entries, 6);  // undo, redo, cut, copy, paste, delete, select all
  }
}

// A logout's SIGTERM, a SIGHUP, Ctrl+C (SIGINT) or Ctrl+Backslash (SIGQUIT) in the
// terminal closes the window as its close box would: the body written in character mode a
// moment ago is in the scratch file, not lost.
TEST(application, termination_signals_close_the_window) {
  for (const int signal : {SIGTERM, SIGHUP, SIGINT, SIGQUIT}) {
    SCOPED_TRACE(signal);
    testing::SandboxDir folder;
    MainForm form(testing::SystemSendWays(), QDir(folder.Path()));
    CloseOnTerminationSignals(form);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    QTest::mouseClick(form.findChild<QCheckBox*>(QStringLiteral("byteMode")), Qt::LeftButton);
    QTest::keyClicks(form.findChild<QPlainTextEdit*>(QStringLiteral("body")),
                     QStringLiteral("last"));
    ASSERT_EQ(::raise(signal), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form.isVisible(); }, 5000));
    EXPECT_EQ(testing::ReadAll(folder.File(QStringLiteral("temp.tmp"))), "\r\nlast\r\n");
  }
  for (const int signal : {SIGTERM, SIGHUP, SIGINT, SIGQUIT}) std::signal(signal, SIG_DFL);
}

// Ctrl+C during a send lets sendmail finish (it is not in the terminal's process group)
// and shows its outcome before the window closes.
TEST(application, ctrl_c_during_a_send_waits_for_its_outcome) {
  for (const int status : {0, 75}) {
    SCOPED_TRACE(status);
    testing::FakeMailPrograms fake;
    fake.SetSleep("1");
    fake.SetExit(status);
    testing::SandboxDir folder;
    MainForm form(testing::SystemSendWays(), QDir(folder.Path()));
    CloseOnTerminationSignals(form);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    form.findChild<QLineEdit*>(QStringLiteral("recipient"))->setText(QStringLiteral("you@x.jp"));
    QTest::keyClicks(form.findChild<QPlainTextEdit*>(QStringLiteral("body")),
                     QStringLiteral("do not drop me"));
    QTest::mouseClick(form.findChild<QPushButton*>(QStringLiteral("send")), Qt::LeftButton);
    QTest::qWait(200);
    ASSERT_EQ(::raise(SIGINT), 0);
    QTest::qWait(200);
    EXPECT_TRUE(form.isVisible());  // waiting for the send
    // A failure is shown in a message box, which waits for the user in an event loop of
    // its own: a timer reads and closes it.
    QString shown;
    QTimer boxes;
    QObject::connect(&boxes, &QTimer::timeout, [&] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        shown = box->text();
        box->accept();
      }
    });
    boxes.start(20);
    const bool over = QTest::qWaitFor([&] { return !form.isVisible(); }, 10000);
    ASSERT_TRUE(over);
    EXPECT_TRUE(fake.Recorded("sendmail.stdin").endsWith("do not drop me\n"));
    if (status == 0) {
      EXPECT_TRUE(shown.isEmpty()) << shown.toStdString();
    } else {
      EXPECT_TRUE(shown.contains(QStringLiteral("EX_TEMPFAIL"))) << shown.toStdString();
    }
  }
  std::signal(SIGINT, SIG_DFL);
}

struct WindowRun {
  int status = -1;  // -1: still running when the test stopped it
  QByteArray err;
};

// Starts the window program through `kelmo` with only the display variables given, in
// `folder` (its data folder) or an empty one, and stops it with SIGTERM if it is still
// running after `patience` ms.
WindowRun StartWindow(const QStringList& arguments, const QStringList& variables, int patience,
                      const QString& folder = {}) {
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  for (const QString& name : environment.keys()) {
    if (name.startsWith(QLatin1String("QT_")) || name == QLatin1String("DISPLAY") ||
        name.startsWith(QLatin1String("WAYLAND_")) || name == QLatin1String("XDG_SESSION_TYPE")) {
      environment.remove(name);
    }
  }
  const testing::SandboxDir runtime;
  environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.Path());
  for (const QString& variable : variables) {
    environment.insert(variable.section(QLatin1Char('='), 0, 0),
                       variable.section(QLatin1Char('='), 1));
  }
  QProcess process;
  process.setProcessEnvironment(environment);
  process.setWorkingDirectory(folder.isEmpty() ? runtime.Path() : folder);
  process.start(QStringLiteral(KELMO_BINARY), arguments);
  WindowRun run;
  if (!process.waitForFinished(patience)) {
    ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
    EXPECT_TRUE(process.waitForFinished(10000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0);
  } else {
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : 128;
  }
  run.err = process.readAllStandardError();
  return run;
}

// A display that is named but cannot be reached is said in one line, with the status of
// no display at all, not a toolkit abort (status 134, a screenful, a core file); a
// platform that needs no display still opens.
TEST(application, unreachable_display_is_one_line_and_exit_3) {
  struct Row {
    const char* name;
    QStringList arguments;
    QStringList variables;
    int status;  // -1: runs
    const char* mentions;
  };
  const Row rows[] = {
      {"x11_display_nobody_serves",
       {},
       {u"DISPLAY=:987"_s},
       3,
       "could not connect to display :987"},
      {"wayland_socket_that_is_not_there",
       {},
       {u"WAYLAND_DISPLAY=kelmo-nothing"_s},
       3,
       "WAYLAND_DISPLAY=kelmo-nothing"},
      {"both_named_neither_there",
       {},
       {u"DISPLAY=:987"_s, u"WAYLAND_DISPLAY=kelmo-nothing"_s, u"XDG_SESSION_TYPE=wayland"_s},
       3,
       ":987"},
      {"wayland_asked_for",
       {},
       {u"QT_QPA_PLATFORM=wayland"_s, u"WAYLAND_DISPLAY=kelmo-nothing"_s},
       3,
       "wl_display"},
      {"platform_option_for_x11", {u"-platform"_s, u"xcb"_s}, {u"DISPLAY=:987"_s}, 3, ":987"},
      {"control_characters_in_the_name_are_escaped",
       {},
       {u"DISPLAY=:9\x1b[31m"_s},
       3,
       ":9\\x1b[31m"},
      {"offscreen_option_needs_no_display",
       {u"-platform"_s, u"offscreen"_s},
       {u"DISPLAY=:987"_s},
       -1,
       ""},
      {"offscreen_by_variable", {}, {u"QT_QPA_PLATFORM=offscreen"_s, u"DISPLAY=:987"_s}, -1, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const WindowRun run = StartWindow(row.arguments, row.variables, row.status < 0 ? 2000 : 30000);
    EXPECT_EQ(run.status, row.status) << run.err.toStdString();
    if (row.status < 0) continue;
    EXPECT_TRUE(run.err.startsWith("kelmo: ")) << run.err.toStdString();
    EXPECT_EQ(run.err.count('\n'), 1) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(row.mentions)) << run.err.toStdString();
    EXPECT_FALSE(run.err.contains('\x1b')) << run.err.toStdString();
  }
}

// Leftovers of saves killed before their rename are removed as the program starts, before
// its window; the user's own copies, whatever their names, and a save that may be in
// progress stay.
TEST(application, leftovers_of_killed_saves_go_at_start) {
  testing::SandboxDir folder;
  const pid_t ended = ::fork();
  ASSERT_GE(ended, 0);
  if (ended == 0) ::_exit(0);
  ASSERT_EQ(::waitpid(ended, nullptr, 0), ended);
  const QString killed = u".kelmo.ini.kelmo-save-%1-Ab12Cd"_s.arg(ended);
  const QString running = u".temp.tmp.kelmo-save-%1-xY9z8W"_s.arg(::getpid());
  // A save's name on a file no save made: copied from another machine, say.
  const QString copied = u".kelmo.ini.kelmo-save-%1-Ef34Gh"_s.arg(ended);
  const QStringList users = {u"kelmo.ini.backup"_s,
                             u"kelmo.ini.2024v1"_s,
                             u"kelmo.ini.123456"_s,
                             u"temp.tmp.backup"_s,
                             u"temp.tmp.saved1"_s,
                             u"kelmo.ini.Ab12Cd"_s,
                             copied};
  for (const QString& name : users + QStringList{killed, running}) {
    testing::WriteAll(folder.File(name), "half");
    QFile file(folder.File(name));
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    file.setFileTime(QDateTime::currentDateTime().addSecs(name == running ? 0 : -600),
                     QFileDevice::FileModificationTime);
    if ((name == killed || name == running) && !MarkAsSave(file.handle())) {
      GTEST_SKIP() << "this file system keeps no extended attributes";
    }
  }
  const WindowRun run = StartWindow({u"-platform"_s, u"offscreen"_s}, {}, 3000, folder.Path());
  EXPECT_EQ(run.status, -1) << run.err.toStdString();  // it ran until it was stopped
  QStringList expected = users + QStringList{running};
  expected.sort();
  EXPECT_EQ(QDir(folder.Path()).entryList(QDir::Files | QDir::Hidden, QDir::Name), expected);
}

}  // namespace
}  // namespace kelmo
