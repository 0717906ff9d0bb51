// What a screen reader hears of the window's announcements: every notification that
// shows, with the name it has when the reader asks for it. Over AT-SPI the reader asks
// only when it gets to the "showing" event, after the window has gone on; the log asks
// later still, when the test takes what was said. (Offscreen Qt has no accessibility
// bridge to send the event through; it goes with the widget's show, seen here.)
#pragma once

#include <QAccessible>
#include <QApplication>
#include <QPointer>
#include <QStringList>
#include <QWidget>
#include <utility>
#include <vector>

namespace kelmo::testing {

class AnnouncementLog : public QObject {
 public:
  AnnouncementLog() { qApp->installEventFilter(this); }

  // What was said since the last call, in order; a notification gone by now says "(gone)".
  QStringList Take() {
    QStringList said;
    for (const QPointer<QWidget>& shown : std::exchange(m_shown, {})) {
      QAccessibleInterface* accessible =
          shown ? QAccessible::queryAccessibleInterface(shown) : nullptr;
      said << (accessible ? accessible->text(QAccessible::Name) : QStringLiteral("(gone)"));
    }
    return said;
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show && watched->isWidgetType()) {
      QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(watched);
      if (accessible && accessible->role() == QAccessible::Notification) {
        m_shown.emplace_back(static_cast<QWidget*>(watched));
      }
    }
    return false;
  }

 private:
  std::vector<QPointer<QWidget>> m_shown;
};

}  // namespace kelmo::testing
