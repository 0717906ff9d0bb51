#include "app/application.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTest>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <memory>
#include <stdexcept>
#include <system_error>

#include "mail/system_transport.h"
#include "support/sandbox.h"
#include "window/main_form.h"

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

// A logout's SIGTERM, or a SIGHUP, closes the window as its close box would: the body
// written in character mode a moment ago is in the scratch file, not lost.
TEST(application, termination_signals_close_the_window) {
  for (const int signal : {SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    testing::SandboxDir folder;
    MainForm form(std::make_unique<SystemMailTransport>(), QDir(folder.Path()));
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
  std::signal(SIGTERM, SIG_DFL);
  std::signal(SIGHUP, SIG_DFL);
}

}  // namespace
}  // namespace kelmo
