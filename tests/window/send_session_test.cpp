// The send session on its own, with ways that answer when the test says so: the busy
// state, late failures, a close during a send, sends in a row; and the error box's cursor.
#include "window/send_session.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <memory>
#include <utility>
#include <vector>

#include "window/error_box.h"

using namespace Qt::StringLiterals;

namespace kelmo {
namespace {

// Every send handed to one way, and the outcome still owed for each.
struct Way {
  std::vector<OutgoingMail> sent;
  std::vector<MailTransport::Done> owed;
};

class FakeTransport : public MailTransport {
 public:
  explicit FakeTransport(std::shared_ptr<Way> way) : m_way(std::move(way)) {}
  void Send(const OutgoingMail& mail, Done done) override {
    m_way->sent.push_back(mail);
    m_way->owed.push_back(std::move(done));
  }

 private:
  std::shared_ptr<Way> m_way;
};

// Refuses at once, before Send() returns, as a transport does with an unusable recipient.
class RefusingTransport : public MailTransport {
 public:
  void Send(const OutgoingMail& /*mail*/, Done done) override {
    done(Error(MailError::kNoRecipient, u"no recipient"_s));
  }
};

// A session with both ways faked, recording what it says.
struct Session {
  std::shared_ptr<Way> direct = std::make_shared<Way>();
  std::shared_ptr<Way> compose = std::make_shared<Way>();
  QPushButton button{u"送信"_s};
  SendSession session{
      {std::make_unique<FakeTransport>(direct), std::make_unique<FakeTransport>(compose)}, &button};
  std::vector<QString> said;  // "sent", "composed", "failed NUMBER", "close"

  Session() {
    button.setAccessibleDescription(u"its own"_s);
    QObject::connect(&session, &SendSession::Sent, [this](bool composed) {
      said.push_back(composed ? u"composed"_s : u"sent"_s);
    });
    QObject::connect(&session, &SendSession::Failed, [this](const Error& error) {
      said.push_back(u"failed %1"_s.arg(error.number));
    });
    QObject::connect(&session, &SendSession::CloseDue, [this] { said.push_back(u"close"_s); });
  }
  void Start(bool composeWay = false) {
    session.Start({u"you@example.jp"_s, u"s"_s, u"b"_s}, composeWay);
  }
  bool BusyShown() const {
    return QApplication::overrideCursor() != nullptr &&
           button.accessibleDescription() == SendSession::BusyText();
  }
  bool IdleShown() const {
    return QApplication::overrideCursor() == nullptr &&
           button.accessibleDescription() == u"its own"_s;
  }
};

const Error kFailure(MailError::kTransportFailed, u"refused"_s);

// Each outcome of one send, through each way: what is said, and the busy state gone.
TEST(send_session, one_send_and_its_outcome) {
  const struct {
    const char* name;
    bool compose;
    bool success;
    QString said;
  } rows[] = {
      {"sent", false, true, u"sent"_s},
      {"composed", true, true, u"composed"_s},
      {"failed", false, false, u"failed 2010"_s},
      {"compose_failed", true, false, u"failed 2010"_s},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Session s;
    EXPECT_TRUE(s.IdleShown());
    s.Start(row.compose);
    EXPECT_TRUE(s.session.Busy());
    EXPECT_TRUE(s.BusyShown());
    Way& used = row.compose ? *s.compose : *s.direct;
    const Way& unused = row.compose ? *s.direct : *s.compose;
    ASSERT_EQ(used.sent.size(), 1u);
    EXPECT_TRUE(unused.sent.empty());
    used.owed.front()(row.success ? Result<>() : Result<>(kFailure));
    EXPECT_FALSE(s.session.Busy());
    EXPECT_TRUE(s.IdleShown());
    EXPECT_EQ(s.said, std::vector<QString>{row.said});
  }
}

// A refusal before Send() returns ends the send all the same.
TEST(send_session, a_refusal_before_the_send_returns_ends_it) {
  QPushButton button;
  SendSession session({std::make_unique<RefusingTransport>(), nullptr}, &button);
  int failures = 0;
  QObject::connect(&session, &SendSession::Failed, [&] { ++failures; });
  session.Start({}, false);
  EXPECT_EQ(failures, 1);
  EXPECT_FALSE(session.Busy());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  session.Start({}, true);  // no compose way given: nothing happens
  EXPECT_EQ(failures, 1);
  EXPECT_FALSE(session.Busy());
}

// A second start during a send starts nothing; after it, the next one goes.
TEST(send_session, two_sends_in_a_row) {
  Session s;
  s.Start();
  s.Start();
  s.Start(true);
  EXPECT_EQ(s.direct->sent.size(), 1u);
  EXPECT_TRUE(s.compose->sent.empty());
  s.direct->owed[0]({});
  s.Start();
  EXPECT_TRUE(s.BusyShown());
  ASSERT_EQ(s.direct->sent.size(), 2u);
  s.direct->owed[1](kFailure);
  EXPECT_TRUE(s.IdleShown());
  EXPECT_EQ(s.said, (std::vector<QString>{u"sent"_s, u"failed 2010"_s}));
}

// The parts of a message, numbered from `first`, as a series hands them over.
std::vector<SeriesMail> Parts(std::size_t first, std::size_t last) {
  std::vector<SeriesMail> parts;
  for (std::size_t n = first; n <= last; ++n)
    parts.push_back({n, {u"you@example.jp"_s, u"s"_s, u"part %1"_s.arg(n)}});
  return parts;
}

// Late failures of parts name their series and part, whenever they come: a part of an
// earlier series that fails during a later one is the earlier series' part, not one of the
// running series; a part that fails after it was taken as handed over, before the next
// part started, does not stop the series, and the next part still goes, as part of it.
TEST(send_session, late_failures_of_parts_name_their_series_and_part) {
  Session s;
  std::vector<std::pair<int, std::size_t>> failed;  // series, part
  std::vector<std::size_t> went;
  QObject::connect(&s.session, &SendSession::PartFailed,
                   [&](int series, std::size_t number) { failed.emplace_back(series, number); });
  QObject::connect(&s.session, &SendSession::PartSent,
                   [&](std::size_t number, std::size_t, bool) { went.push_back(number); });

  // Series 1: part 1 opens, then part 2, then part 3 is refused.
  const int first = s.session.StartSeries(Parts(1, 3), 3, true);
  ASSERT_GT(first, 0);
  MailTransport::Done part1 = s.compose->owed[0];
  part1({});
  QTest::qWait(0);  // the next part starts from the event loop
  ASSERT_EQ(s.compose->sent.size(), 2u);
  s.compose->owed[1]({});
  QTest::qWait(0);
  ASSERT_EQ(s.compose->sent.size(), 3u);
  s.compose->owed[2](kFailure);
  EXPECT_FALSE(s.session.Busy());
  EXPECT_EQ(failed, (std::vector<std::pair<int, std::size_t>>{{first, 3}}));

  // Series 2 retries part 3; part 1's launcher fails meanwhile.
  const int second = s.session.StartSeries(Parts(3, 3), 3, true);
  ASSERT_GT(second, first);
  ASSERT_EQ(s.compose->sent.size(), 4u);
  part1(Error(MailError::kComposeFailed, u"late"_s));
  EXPECT_TRUE(s.session.Busy());  // part 3 is still waited for
  EXPECT_EQ(failed.back(), std::make_pair(first, std::size_t{1}));
  s.compose->owed[3]({});
  EXPECT_FALSE(s.session.Busy());
  EXPECT_EQ(went, (std::vector<std::size_t>{1, 2, 3}));

  // Series 3: part 1 opens and, before part 2 starts, fails after all.
  failed.clear();
  went.clear();
  const int third = s.session.StartSeries(Parts(1, 2), 2, true);
  s.compose->owed[4]({});
  s.compose->owed[4](Error(MailError::kComposeFailed, u"late"_s));
  EXPECT_TRUE(s.session.Busy());  // the series goes on: part 2 is queued
  QTest::qWait(0);
  ASSERT_EQ(s.compose->sent.size(), 6u);
  EXPECT_EQ(s.compose->sent[5].body, u"part 2"_s);
  s.compose->owed[5]({});
  EXPECT_FALSE(s.session.Busy());
  EXPECT_EQ(failed, (std::vector<std::pair<int, std::size_t>>{{third, 1}}));
  EXPECT_EQ(went, (std::vector<std::size_t>{1, 2}));
}

// A launcher taken as started fails later: said, whenever it comes, and a send running
// then is still waited for. A late success is not said twice.
TEST(send_session, a_late_failure_after_success) {
  Session s;
  s.Start(true);
  MailTransport::Done first = s.compose->owed[0];
  first({});
  EXPECT_TRUE(s.IdleShown());
  first(Error(MailError::kComposeFailed, u"late"_s));  // nothing running
  EXPECT_TRUE(s.IdleShown());
  s.Start(true);
  first(Error(MailError::kComposeFailed, u"later"_s));  // the second send running
  EXPECT_TRUE(s.session.Busy());
  EXPECT_TRUE(s.BusyShown());
  s.compose->owed[1]({});
  EXPECT_TRUE(s.IdleShown());
  EXPECT_EQ(s.said, (std::vector<QString>{u"composed"_s, u"failed 2009"_s, u"failed 2009"_s,
                                          u"composed"_s}));
}

// A close during a send is held until the send is over, its outcome said first; once, so
// that a later send does not close a window whose close was refused meanwhile.
TEST(send_session, a_close_during_a_send) {
  for (const bool success : {true, false}) {
    SCOPED_TRACE(success ? "sent" : "failed");
    Session s;
    EXPECT_FALSE(s.session.HoldClose());  // nothing running: close now
    s.Start();
    EXPECT_TRUE(s.session.HoldClose());
    EXPECT_TRUE(s.said.empty());
    s.direct->owed[0](success ? Result<>() : Result<>(kFailure));
    EXPECT_EQ(s.said, (std::vector<QString>{success ? u"sent"_s : u"failed 2010"_s, u"close"_s}));
    s.said.clear();
    s.Start();
    s.direct->owed[1]({});
    EXPECT_EQ(s.said, std::vector<QString>{u"sent"_s});
  }
}

// Gone during a send: the ways go first, the busy cursor with them, and nothing is said.
TEST(send_session, dropped_during_a_send) {
  auto s = std::make_unique<Session>();
  s->Start();
  s->session.Drop();
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  s.reset();
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

// The busy state reaches assistive technology as the button's state and description,
// and the button keeps the keyboard: it stays enabled. It is still a button with its
// name and its Press action.
TEST(send_session, busy_state_is_exposed_on_the_button) {
  Session s;
  QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&s.button);
  ASSERT_NE(accessible, nullptr);
  EXPECT_EQ(accessible->role(), QAccessible::Button);
  EXPECT_EQ(accessible->text(QAccessible::Name), u"送信"_s);
  EXPECT_FALSE(accessible->state().busy);
  s.Start();
  EXPECT_TRUE(accessible->state().busy);
  EXPECT_EQ(accessible->text(QAccessible::Description), SendSession::BusyText());
  EXPECT_TRUE(s.button.isEnabled());
  EXPECT_FALSE(accessible->state().disabled);
  s.direct->owed[0]({});
  EXPECT_FALSE(accessible->state().busy);
  EXPECT_EQ(accessible->text(QAccessible::Description), u"its own"_s);

  int presses = 0;
  QObject::connect(&s.button, &QPushButton::clicked, [&] { ++presses; });
  ASSERT_NE(accessible->actionInterface(), nullptr);
  ASSERT_TRUE(accessible->actionInterface()->actionNames().contains(
      QAccessibleActionInterface::pressAction()));
  accessible->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
  EXPECT_EQ(presses, 1);
}

// An error box shows the ordinary pointer, whatever override cursors a send set, and puts
// them back in order once the user has closed it.
TEST(send_session, error_box_lifts_the_busy_cursor_while_it_shows) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  QApplication::setOverrideCursor(Qt::BusyCursor);
  bool lifted = false;
  QString text;
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    lifted = QApplication::overrideCursor() == nullptr;
    text = box->text();
    box->accept();
  });
  closer.start(5);
  ShowErrorBox(nullptr, Error(MailError::kTransportFailed, u"/usr/sbin/sendmail: 失敗しました"_s));
  EXPECT_TRUE(lifted);
  // The number a sentence of its own, for a screen reader's pause.
  EXPECT_EQ(text, u"2010。\r/usr/sbin/sendmail: 失敗しました"_s);
  ASSERT_NE(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::BusyCursor);
  QApplication::restoreOverrideCursor();
  ASSERT_NE(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
  QApplication::restoreOverrideCursor();
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

}  // namespace
}  // namespace kelmo
