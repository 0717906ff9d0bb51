#include "window/send_session.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>

namespace kelmo {
namespace {

// Marks a session's button; true while a send runs.
constexpr char kBusyProperty[] = "kelmoSendBusy";

// A session's button as assistive technology sees it: Qt's own push button interface
// (name, Press action), with the busy state while a send runs, which that one cannot say.
class SendButtonAccessible : public QAccessibleWidget {
 public:
  explicit SendButtonAccessible(QAbstractButton* button)
      : QAccessibleWidget(button, QAccessible::Button) {}

  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Name && widget()->accessibleName().isEmpty()) {
      return Button()->text().remove(QLatin1Char('&'));
    }
    return QAccessibleWidget::text(t);
  }
  QAccessible::State state() const override {
    QAccessible::State state = QAccessibleWidget::state();
    state.pressed = Button()->isDown();
    state.busy = widget()->property(kBusyProperty).toBool();
    return state;
  }
  QStringList actionNames() const override {
    return QStringList(pressAction()) + QAccessibleWidget::actionNames();
  }
  void doAction(const QString& action) override {
    if (action == pressAction()) {
      Button()->click();
      return;
    }
    QAccessibleWidget::doAction(action);
  }

 private:
  QAbstractButton* Button() const { return static_cast<QAbstractButton*>(widget()); }
};

QAccessibleInterface* AccessibleSendButton(const QString& /*key*/, QObject* object) {
  auto* button = qobject_cast<QAbstractButton*>(object);
  if (!button || !button->property(kBusyProperty).isValid()) return nullptr;
  return new SendButtonAccessible(button);
}

}  // namespace

void BusyCursor::Show() {
  if (m_shown) return;
  m_shown = true;
  QApplication::setOverrideCursor(Qt::BusyCursor);
}

void BusyCursor::Hide() {
  if (!m_shown) return;
  m_shown = false;
  QApplication::restoreOverrideCursor();
}

SendSession::SendSession(SendWays ways, QWidget* button, QObject* parent)
    : QObject(parent), m_ways(std::move(ways)), m_button(button) {
  static const bool kFactoryInstalled = (QAccessible::installFactory(AccessibleSendButton), true);
  (void)kFactoryInstalled;
  if (!m_button) return;
  m_button->setProperty(kBusyProperty, false);
  // Qt makes a button's interface as soon as its text is set, before the factory above
  // could answer: that one goes, and the next question gets the session's.
  QAccessibleInterface* made = QAccessible::queryAccessibleInterface(m_button);
  if (made && !dynamic_cast<SendButtonAccessible*>(made)) {
    QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
  }
}

// The ways go before the signals' receivers can: a program still running is stopped and
// reports nothing.
SendSession::~SendSession() { Drop(); }

void SendSession::Drop() {
  m_cursor.Hide();  // no outcome will take it away now
  m_ways.direct.reset();
  m_ways.compose.reset();
}

QString SendSession::BusyText() { return tr("送信中です。終わるまで待ってください。"); }

void SendSession::Start(const OutgoingMail& mail, bool compose) {
  MailTransport* way = compose ? m_ways.compose.get() : m_ways.direct.get();
  if (m_busy || !way) return;
  ShowBusy(true);
  // The outcome may come before Send() returns (a recipient refused): busy first.
  way->Send(mail, [this, send = ++m_sendsStarted, compose](const Result<>& outcome) {
    Over(send, compose, outcome);
  });
}

QString SendSession::SeriesBusyText(std::size_t number, std::size_t count) {
  return tr("送信中です（%1/%2通目）。終わるまで待ってください。").arg(number).arg(count);
}

QString SendSession::SeriesFailureText(std::size_t went, std::size_t count, std::size_t failed,
                                       const QString& why) {
  return SeriesWentText(went, count) + tr("%1通目: %2").arg(failed).arg(why);
}

QString SendSession::SeriesWentText(std::size_t went, std::size_t count) {
  return tr("%1通のうち%2通を送信しました。").arg(count).arg(went);
}

int SendSession::StartSeries(std::vector<SeriesMail> mails, std::size_t count, bool compose) {
  MailTransport* way = compose ? m_ways.compose.get() : m_ways.direct.get();
  if (m_busy || !way || mails.empty()) return 0;
  m_series = std::move(mails);
  m_seriesNext = 0;
  m_seriesAnswered = 0;
  m_seriesCount = count;
  m_seriesWent = count - m_series.size();
  m_seriesCompose = compose;
  m_seriesFirstSend = m_sendsStarted + 1;
  ++m_seriesStarted;
  ShowBusy(true);
  SendNextInSeries();
  return m_seriesStarted;
}

void SendSession::SendNextInSeries() {
  const bool compose = m_seriesCompose;
  MailTransport* way = m_seriesCompose ? m_ways.compose.get() : m_ways.direct.get();
  // Dropped with the window, or stopped by a failure while this part waited its turn.
  if (!way || !m_busy || m_seriesNext >= m_series.size()) return;
  const SeriesMail& next = m_series[m_seriesNext++];
  // Both the eye and a screen reader find the progress on the button.
  if (m_button) {
    const QString progress = SeriesBusyText(next.number, m_seriesCount);
    m_button->setAccessibleDescription(progress);
    m_button->setToolTip(progress);
  }
  way->Send(next.mail, [this, send = ++m_sendsStarted, compose, series = m_seriesStarted,
                        number = next.number](const Result<>& outcome) {
    Over(send, compose, outcome, series, number);
  });
}

bool SendSession::HoldClose() {
  if (!m_busy) return false;
  m_closeWhenSent = true;
  return true;
}

// The send's outcome, or a failure a mail client's launcher reports after it was taken
// as opened, which may come while a later send runs: that one is still waited for.
void SendSession::Over(int send, bool compose, const Result<>& outcome, int series,
                       std::size_t number) {
  const bool current = m_busy && send == m_sendsStarted;
  if (series != 0 && series == m_seriesStarted) {
    SeriesOver(static_cast<std::size_t>(send - m_seriesFirstSend), current, compose, outcome);
    return;
  }
  if (series != 0) {
    // A part of an earlier series, taken as handed over, failed late: it did not go.
    if (!outcome) {
      Q_EMIT PartFailed(series, number);
      Q_EMIT Failed(Error(outcome.error().number,
                          tr("%1通目: %2").arg(number).arg(outcome.error().description)));
    }
    return;
  }
  if (current) ShowBusy(false);
  if (!outcome) {
    Q_EMIT Failed(outcome.error());
  } else if (current) {
    Q_EMIT Sent(compose);
  }
  // Once: a close refused later must not make a later send close the window.
  if (current && m_closeWhenSent) {
    m_closeWhenSent = false;
    Q_EMIT CloseDue();
  }
}

// One mail of the series is over. The next one starts from the event loop, not from
// inside the transport's report of this one.
void SendSession::SeriesOver(std::size_t index, bool current, bool compose,
                             const Result<>& outcome) {
  const SeriesMail& part = m_series[index];
  // A part whose outcome came already (taken as handed over) and now fails is a late
  // failure, even while it is still the last one started: the series goes on.
  if (index < m_seriesAnswered) {
    current = false;
  } else {
    m_seriesAnswered = index + 1;
  }
  const bool more = current && outcome && m_seriesNext < m_series.size();
  if (current && !more) ShowBusy(false);
  if (!outcome) {
    Q_EMIT PartFailed(m_seriesStarted, part.number);
    // A late failure comes after the part was counted as sent. While later parts still
    // go it names only its part: the count follows when they are over.
    if (!current && m_seriesWent > 0) --m_seriesWent;
    const bool running =
        m_busy && m_sendsStarted >= m_seriesFirstSend &&
        static_cast<std::size_t>(m_sendsStarted - m_seriesFirstSend) < m_seriesNext;
    const QString& why = outcome.error().description;
    Q_EMIT Failed(Error(outcome.error().number,
                        running
                            ? tr("%1通目: %2").arg(part.number).arg(why)
                            : SeriesFailureText(m_seriesWent, m_seriesCount, part.number, why)));
  } else if (current) {
    ++m_seriesWent;
    Q_EMIT PartSent(part.number, m_seriesCount, compose);
    if (!more) Q_EMIT SeriesSent(m_seriesWent, m_seriesCount, compose);
  }
  if (more) {
    QMetaObject::invokeMethod(this, &SendSession::SendNextInSeries, Qt::QueuedConnection);
    return;
  }
  if (current && m_closeWhenSent) {
    m_closeWhenSent = false;
    Q_EMIT CloseDue();
  }
}

void SendSession::ShowBusy(bool busy) {
  m_busy = busy;
  if (busy) {
    m_cursor.Show();
  } else {
    m_cursor.Hide();
  }
  if (!m_button) return;
  m_button->setProperty(kBusyProperty, busy);
  QAccessible::State changed;
  changed.busy = true;
  QAccessibleStateChangeEvent event(m_button, changed);
  QAccessible::updateAccessibility(&event);
  if (busy) {
    m_buttonDescription = m_button->accessibleDescription();
    m_buttonToolTip = m_button->toolTip();
    m_button->setAccessibleDescription(BusyText());
  } else {
    m_button->setAccessibleDescription(m_buttonDescription);
    m_button->setToolTip(m_buttonToolTip);
  }
}

}  // namespace kelmo
