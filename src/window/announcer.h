// What a screen reader is told beyond the controls themselves: announcements of what just
// happened, the window as a frame named by its title, and a field's focus before its
// selection. A sighted user sees no change.
#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <vector>

#include "message/limits.h"

class QLabel;
class QLineEdit;
class QTimer;
class QWidget;

namespace kelmo {

class Announcer : public QObject {
  Q_OBJECT

 public:
  // Announces through notifications in `window`, which screen readers are to take for a
  // frame, whose name (the title, with its warning) they read on request.
  explicit Announcer(QWidget* window);

  // Says `text` once, as it happens. Every text is heard, in the order given, however
  // many come in one turn of the event loop: each shows in a notification of its own,
  // which keeps its text while a screen reader may still be reading it.
  void Announce(const QString& text);
  // Says each limit crossed since the last call, either way: passed, or back within it.
  void AnnounceCrossings(PastLimits past);
  // Entered by Tab, `field` selects its text only once its focus has been reported.
  void SelectAfterFocusReport(QLineEdit* field);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Notice {
    QLabel* label;
    QTimer* timer;        // hides it again
    std::uint64_t shown;  // when it last showed, in announcements
  };
  Notice& FreeNotice();

  QWidget* m_window;
  std::vector<Notice> m_notices;
  std::uint64_t m_announced = 0;
  PastLimits m_pastAnnounced;  // the limits past as last announced
};

}  // namespace kelmo
