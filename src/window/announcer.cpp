#include "window/announcer.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QCoreApplication>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <algorithm>
#include <chrono>

#include "utf16/utf16.h"

namespace kelmo {
namespace {

// How long an announcement stays for a screen reader to find.
constexpr std::chrono::milliseconds kAnnouncementTime{4000};
// More announcements at once than this (a key held at a limit) reuse the oldest
// notification: speech could not keep up with them anyway.
constexpr std::size_t kMaxNotices = 8;

const char* const kFrameProperty = "kelmoFrame";
const char* const kNoticeName = "announcement";

// Screen readers take the window for a frame, whose name (the title, with its warning)
// they read on request, and an announcement for a notification, which they speak as it
// shows. The first key is the object's own class: nothing else has answered yet.
QAccessibleInterface* AccessibleForKelmo(const QString& key, QObject* object) {
  if (!object->isWidgetType() || key != QLatin1String(object->metaObject()->className())) {
    return nullptr;
  }
  auto* widget = static_cast<QWidget*>(object);
  if (object->property(kFrameProperty).toBool()) {
    return new QAccessibleWidget(widget, QAccessible::Window);
  }
  if (qobject_cast<QLabel*>(object) && object->objectName() == QLatin1String(kNoticeName)) {
    return new QAccessibleWidget(widget, QAccessible::Notification);
  }
  return nullptr;
}

// What a crossing is called when it is announced.
QString CrossingText(const Crossing& crossing) {
  const Title warning = crossing.limit == Limit::kMessage   ? Title::kMessageTooLong
                        : crossing.limit == Limit::kSubject ? Title::kSubjectTooLong
                                                            : Title::kAddressTooLong;
  if (crossing.over) return ToQString(WarningText(warning)).trimmed();
  switch (crossing.limit) {
    case Limit::kMessage:
      return Announcer::tr("全体が制限内に戻りました");
    case Limit::kSubject:
      return Announcer::tr("件名が制限内に戻りました");
    case Limit::kAddress:
      break;
  }
  return Announcer::tr("アドが制限内に戻りました");
}

}  // namespace

Announcer::Announcer(QWidget* window) : QObject(window), m_window(window) {
  static const bool kFactoryInstalled = (QAccessible::installFactory(AccessibleForKelmo), true);
  (void)kFactoryInstalled;
  window->setProperty(kFrameProperty, true);
}

// A hidden notification shown: AT-SPI sends its "showing" change, which screen readers
// speak (Qt 6.4 has no announcement API). They ask for its name only when they get to the
// event, so a notification is not renamed while it shows: the next text takes another.
void Announcer::Announce(const QString& text) {
  Notice& notice = FreeNotice();
  notice.label->hide();
  notice.label->setAccessibleName(text);
  notice.label->show();
  notice.timer->start();
  notice.shown = ++m_announced;
}

// A hidden notification, a new one while there are few, else the one shown longest.
Announcer::Notice& Announcer::FreeNotice() {
  const auto hidden = std::find_if(m_notices.begin(), m_notices.end(),
                                   [](const Notice& n) { return n.label->isHidden(); });
  if (hidden != m_notices.end()) return *hidden;
  if (m_notices.size() >= kMaxNotices) {
    return *std::min_element(m_notices.begin(), m_notices.end(),
                             [](const Notice& a, const Notice& b) { return a.shown < b.shown; });
  }
  // Empty and one pixel in a corner: it is there for screen readers only.
  auto* label = new QLabel(m_window);
  label->setObjectName(QLatin1String(kNoticeName));
  label->setGeometry(0, 0, 1, 1);
  label->hide();
  auto* timer = new QTimer(label);
  timer->setSingleShot(true);
  timer->setInterval(kAnnouncementTime);
  connect(timer, &QTimer::timeout, label, &QWidget::hide);
  return m_notices.emplace_back(Notice{label, timer, 0});
}

// Once per crossing, not on every keystroke past a limit.
void Announcer::AnnounceCrossings(PastLimits past) {
  const std::vector<Crossing> crossed = Crossings(m_pastAnnounced, past);
  m_pastAnnounced = past;
  if (crossed.empty()) return;
  QStringList texts;
  for (const Crossing& crossing : crossed) texts << CrossingText(crossing);
  Announce(texts.join(QStringLiteral("。")));
}

void Announcer::SelectAfterFocusReport(QLineEdit* field) { field->installEventFilter(this); }

// A line edit entered by Tab selects its text, moving the caret before Qt reports the
// focus; Orca 43 then takes the focus as known and says nothing. The field gets its focus
// as from a click, and the selection once the focus has been reported.
bool Announcer::eventFilter(QObject* watched, QEvent* event) {
  auto* field = qobject_cast<QLineEdit*>(watched);
  if (field && event->type() == QEvent::FocusIn) {
    const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
    if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason ||
        reason == Qt::ShortcutFocusReason) {
      QFocusEvent plain(QEvent::FocusIn, Qt::OtherFocusReason);
      QCoreApplication::sendEvent(field, &plain);
      QMetaObject::invokeMethod(
          field,
          [field] {
            if (field->hasFocus()) field->selectAll();
          },
          Qt::QueuedConnection);
      return true;
    }
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace kelmo
