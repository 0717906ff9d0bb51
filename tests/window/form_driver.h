// Drives a MainForm as a user would: typing into its fields and clicking its controls.
#pragma once

#include <QAbstractButton>
#include <QAccessible>
#include <QCheckBox>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>
#include <vector>

#include "support/sandbox.h"

#include "mail/mail_transport.h"
#include "message/limits.h"
#include "support/send_ways.h"
#include "utf16/utf16.h"
#include "window/main_form.h"

namespace kelmo::testing {

// Records every message box the window opens and presses its OK button, as a user would.
class MessageBoxWatcher {
 public:
  struct Shown {
    QString title;
    QString text;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
  };

  MessageBoxWatcher() {
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return;
      m_shown.push_back({box->windowTitle(), box->text(), box->icon(), box->standardButtons()});
      QTest::mouseClick(
          box->button(QMessageBox::Ok) ? box->button(QMessageBox::Ok) : box->buttons().value(0),
          Qt::LeftButton);
    });
    m_timer.start(5);
  }
  const std::vector<Shown>& Boxes() const { return m_shown; }

 private:
  QTimer m_timer;
  std::vector<Shown> m_shown;
};

class FormDriver {
 public:
  // Sends through `ways`, the Linux mail system's unless others are given; the window's
  // files go into a directory of its own.
  explicit FormDriver(SendWays ways = SystemSendWays())
      : m_form(std::make_unique<MainForm>(std::move(ways), QDir(m_dir.Path()))) {
    m_form->show();
    m_form->activateWindow();
    (void)QTest::qWaitForWindowActive(m_form.get());
  }

  MainForm& Form() { return *m_form; }
  SandboxDir& Dir() { return m_dir; }
  // A file in the window's data folder.
  QString File(const QString& name) const { return m_dir.File(name); }
  const std::vector<MessageBoxWatcher::Shown>& Messages() const { return m_boxes.Boxes(); }
  template <typename W = QWidget>
  W* Control(const char* name) {
    auto* widget = m_form->findChild<W*>(QString::fromLatin1(name));
    if (!widget) throw std::runtime_error(std::string("no control ") + name);
    return widget;
  }

  // ASCII arrives as key presses, anything else as an input method's commit.
  void Type(const char* name, const QString& text) {
    QWidget* widget = Control(name);
    widget->setFocus();
    for (const QChar c : text) {
      if (c == QLatin1Char('\n')) {
        QTest::keyClick(widget, Qt::Key_Return);
      } else if (c.unicode() < 0x80) {
        QTest::keyClick(widget, c.toLatin1());
      } else {
        QInputMethodEvent commit;
        commit.setCommitString(QString(c));
        QApplication::sendEvent(widget, &commit);
      }
    }
  }
  // Pastes a whole text at once, as from the clipboard.
  void Paste(const char* name, const QString& text) {
    QWidget* widget = Control(name);
    widget->setFocus();
    QInputMethodEvent commit;
    commit.setCommitString(text);
    QApplication::sendEvent(widget, &commit);
  }
  void Click(const char* name) { QTest::mouseClick(Control(name), Qt::LeftButton); }

  // Whether a send runs, as assistive technology is told: the send button's busy state.
  bool Sending() {
    QAccessibleInterface* button = QAccessible::queryAccessibleInterface(Control("send"));
    return button && button->state().busy;
  }
  QString Counter() { return Control<QLabel>("counter")->text(); }
  QString Title() { return m_form->windowTitle(); }
  QString LineText(const char* name) { return Control<QLineEdit>(name)->text(); }
  QString BodyText() { return Control<QPlainTextEdit>("body")->toPlainText(); }
  QPlainTextEdit* Body() { return Control<QPlainTextEdit>("body"); }

 private:
  SandboxDir m_dir;  // the window's data folder, for kelmo.ini and temp.tmp
  MessageBoxWatcher m_boxes;
  std::unique_ptr<MainForm> m_form;
};

// The window's titles, and a warning as it is announced.
inline QString TitleOf(Title title) { return ToQString(TitleText(title)); }
inline QString AnnouncedWarning(Title title) { return ToQString(WarningText(title)).trimmed(); }
inline const QString kPlain = TitleOf(Title::kPlain);
inline const QString kAddressWarning = TitleOf(Title::kAddressTooLong);
inline const QString kSubjectWarning = TitleOf(Title::kSubjectTooLong);
inline const QString kTotalWarning = TitleOf(Title::kMessageTooLong);

}  // namespace kelmo::testing
