#include "window/main_form.h"

#include <QApplication>
#include <QCheckBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <QTextDocument>
#include <QValidator>
#include <cstdio>

#include "codec/line_breaks.h"
#include "datafiles/address_file.h"
#include "error/error.h"
#include "utf16/utf16.h"
#include "window/announcer.h"
#include "window/body_keeper.h"
#include "window/body_sync.h"
#include "window/error_box.h"
#include "window/parts_send.h"
#include "window/spill_tint.h"

namespace kelmo {
namespace {

// The layout is given in twips; 15 twips make one logical pixel.
constexpr int kTwipsPerPixel = 15;
// The window's font, and the smaller one its narrow captions need.
constexpr int kFontPixels = 12;
constexpr int kCaptionFontPixels = 11;

constexpr QSize kClientSize(6330 / kTwipsPerPixel, 3675 / kTwipsPerPixel);  // 422 x 245

// A rectangle of the layout, in twips.
struct TwipsRect {
  int left, top, width, height;
};

QRect Twips(const TwipsRect& r) {
  return QRect(r.left / kTwipsPerPixel, r.top / kTwipsPerPixel, r.width / kTwipsPerPixel,
               r.height / kTwipsPerPixel);
}

// "あと12バイト" within the limit, "12バイト超過" past it; characters in character mode.
QString RoomText(std::int64_t roomLeft, bool bytes) {
  if (roomLeft >= 0) {
    return bytes ? MainForm::tr("あと%1バイト").arg(roomLeft)
                 : MainForm::tr("あと%1文字").arg(roomLeft);
  }
  return bytes ? MainForm::tr("%1バイト超過").arg(-roomLeft)
               : MainForm::tr("%1文字超過").arg(-roomLeft);
}

// A single-line field never holds a line break: what a paste from a spreadsheet cell or
// a terminal brings, at its end or inside it, is dropped.
class SingleLineValidator : public QValidator {
 public:
  using QValidator::QValidator;
  State validate(QString& input, int& position) const override {
    const std::u16string kept = WithoutLineBreaks(View(input));
    if (kept.size() == static_cast<std::size_t>(input.size())) return Acceptable;
    position = static_cast<int>(
        WithoutLineBreaks(View(input).substr(0, static_cast<std::size_t>(position))).size());
    input = ToQString(kept);
    return Acceptable;
  }
};

void SetDescription(QWidget* widget, const QString& text) {
  widget->setToolTip(text);
  widget->setAccessibleDescription(text);
}

}  // namespace

MainForm::MainForm(SendWays ways, const QDir& dataFolder, QWidget* parent)
    : QWidget(parent),
      m_files(dataFolder),
      m_keeper(
          m_files.ScratchFile(), m_model, [this] { return BodyCrLf(); },
          [this] { return m_bodySync->Edits(); },
          [this](const Error& error) { ShowError(error); }) {
  m_announcer = new Announcer(this);
  QIcon icon;
  icon.addFile(QStringLiteral(":/icons/kelmo-16.png"), QSize(16, 16));
  icon.addFile(QStringLiteral(":/icons/kelmo-32.png"), QSize(32, 32));
  setWindowIcon(icon);
  QFont font = this->font();
  font.setPixelSize(kFontPixels);
  setFont(font);

  CreateControls();
  m_spillTint = new SpillTint(m_body, m_model, this);
  PlaceControls();
  SetTabOrder();
  ConnectHandlers();
  ConnectSend(std::move(ways));
  ShowModel();
  setFixedSize(kClientSize);
  m_body->setFocus();
}

// The send goes first, while the window it reports to still stands; the keeper then
// writes what waits, unreported.
MainForm::~MainForm() { m_send.reset(); }

// Closing during a send would stop the mail program and drop the mail: the window says
// it is finishing and closes when the send is over (within the send's time limit).
void MainForm::closeEvent(QCloseEvent* event) {
  if (!m_keeper.KeptForClose()) {
    event->ignore();
    return;
  }
  if (m_send->HoldClose()) {
    m_closingNotice->show();
    m_closingNotice->raise();
    Announce(m_closingNotice->text());
    event->ignore();
    return;
  }
  QWidget::closeEvent(event);
}

void MainForm::CreateControls() {
  auto named = [](auto* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
  };
  m_subjectCaption = named(new QLabel(tr("件名"), this), "subjectCaption");
  m_recipientCaption = named(new QLabel(tr("相手のアド"), this), "recipientCaption");
  m_ownAddressCaption = named(new QLabel(tr("自分のアド"), this), "ownAddressCaption");
  m_recipient = named(new QLineEdit(this), "recipient");
  m_ownAddress = named(new QLineEdit(this), "ownAddress");
  m_subject = named(new QLineEdit(this), "subject");
  for (QLineEdit* field : {m_recipient, m_ownAddress, m_subject}) {
    field->setValidator(new SingleLineValidator(field));
    m_announcer->SelectAfterFocusReport(field);
  }
  // Five full-width characters fill a 55-pixel caption only at 11 pixels.
  QFont captionFont = font();
  captionFont.setPixelSize(kCaptionFontPixels);
  for (QLabel* caption : {m_subjectCaption, m_recipientCaption, m_ownAddressCaption}) {
    caption->setFont(captionFont);
  }
  m_subjectCaption->setBuddy(m_subject);
  m_recipientCaption->setBuddy(m_recipient);
  m_ownAddressCaption->setBuddy(m_ownAddress);

  m_body = named(new QPlainTextEdit(this), "body");
  m_body->setAccessibleName(tr("本文"));
  m_body->setTabChangesFocus(true);
  m_body->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  m_body->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  m_body->setLineWrapMode(QPlainTextEdit::WidgetWidth);

  m_byteMode = named(new QCheckBox(tr("J対応"), this), "byteMode");
  m_byteMode->setChecked(true);
  m_clearButton = named(new QPushButton(QStringLiteral("CLS"), this), "clear");

  // The counter's number is also its accessible name, so screen readers read the count.
  m_counter = named(new QLabel(this), "counter");
  m_counter->setAutoFillBackground(true);
  QPalette counterPalette = m_counter->palette();
  counterPalette.setColor(QPalette::Window, Qt::white);
  counterPalette.setColor(QPalette::WindowText, Qt::black);
  m_counter->setPalette(counterPalette);
  m_counter->setFrameStyle(QFrame::Box | QFrame::Plain);  // a sunken edge would vanish on white
  m_counter->setTextInteractionFlags(Qt::TextSelectableByMouse);

  m_saveButton = named(new QPushButton(tr("メアド保存"), this), "saveAddresses");
  m_loadButton = named(new QPushButton(tr("メアド読込"), this), "loadAddresses");
  // At 12 pixels five full-width characters fill these 17-pixel buttons to their frames.
  m_saveButton->setFont(captionFont);
  m_loadButton->setFont(captionFont);
  m_sendButton = named(new QPushButton(tr("送信"), this), "send");
  m_showCompose = named(new QCheckBox(tr("送信確認"), this), "showCompose");
  m_showCompose->setFont(captionFont);  // keeps its caption clear of the window's edge
  m_exitButton = named(new QPushButton(QStringLiteral("EXIT"), this), "exit");
  // A click leaves the keyboard where the user was typing; Tab still reaches them all.
  for (QWidget* control :
       std::initializer_list<QWidget*>{m_byteMode, m_clearButton, m_saveButton, m_loadButton,
                                       m_sendButton, m_showCompose, m_exitButton}) {
    control->setFocusPolicy(Qt::TabFocus);
  }

  m_closingNotice =
      named(new QLabel(tr("送信が終わるのを待っています。終わりしだい閉じます。"), this),
            "closingNotice");
  m_closingNotice->setAutoFillBackground(true);
  m_closingNotice->setFrameStyle(QFrame::Box | QFrame::Plain);
  m_closingNotice->setAlignment(Qt::AlignCenter);
  m_closingNotice->setWordWrap(true);
  m_closingNotice->hide();
}

// The recipient, the own address and the mode box would reach 15 twips (one pixel) into
// the control below, which then hides their lower edge: they end where the next one
// begins.
void MainForm::PlaceControls() {
  // NOLINTBEGIN(readability-magic-numbers): the layout's rectangles are the data here
  const std::pair<QWidget*, TwipsRect> layout[] = {
      {m_recipientCaption, {120, 240, 825, 180}},
      {m_recipient, {1200, 120, 3975, 375 - 15}},
      {m_ownAddressCaption, {120, 600, 825, 180}},
      {m_ownAddress, {1200, 480, 3975, 375 - 15}},
      {m_subjectCaption, {120, 960, 360, 180}},
      {m_subject, {1200, 840, 3975, 375}},
      {m_body, {0, 1320, 5175, 2295}},
      {m_byteMode, {5280, 120, 855, 375 - 15}},
      {m_clearButton, {5280, 480, 975, 375}},
      {m_counter, {5280, 960, 975, 375}},
      {m_saveButton, {5280, 1440, 975, 255}},
      {m_loadButton, {5280, 1800, 975, 255}},
      {m_sendButton, {5280, 2160, 975, 495}},
      {m_showCompose, {5280, 2760, 1095, 255}},  // reaches past the right edge
      {m_exitButton, {5280, 3120, 975, 495}},
      {m_closingNotice, {0, 2940, 5175, 675}},  // over the body's foot, while it shows
  };
  // NOLINTEND(readability-magic-numbers)
  for (const auto& [widget, rect] : layout) widget->setGeometry(Twips(rect));
}

void MainForm::SetTabOrder() {
  QWidget* const order[] = {m_body,       m_exitButton, m_ownAddress, m_subject,
                            m_saveButton, m_loadButton, m_byteMode,   m_clearButton,
                            m_sendButton, m_recipient,  m_showCompose};
  for (std::size_t i = 0; i + 1 < std::size(order); ++i) {
    QWidget::setTabOrder(order[i], order[i + 1]);
  }
}

void MainForm::ConnectHandlers() {
  m_bodySync = new BodySync(m_body->document(), m_model, this);
  connect(m_bodySync, &BodySync::Edited, this, &MainForm::BodyEdited);
  connect(m_ownAddress, &QLineEdit::textChanged, this, &MainForm::OwnAddressEdited);
  connect(m_subject, &QLineEdit::textChanged, this, &MainForm::SubjectEdited);
  // However the box changes: a click, the keyboard, or a screen reader's toggle action.
  connect(m_byteMode, &QCheckBox::toggled, this, &MainForm::ByteModeToggled);
  connect(m_clearButton, &QPushButton::clicked, this, &MainForm::ClearAll);
  connect(m_exitButton, &QPushButton::clicked, this, &QWidget::close);  // the only window
  connect(m_saveButton, &QPushButton::clicked, this, &MainForm::SaveAddressFile);
  connect(m_loadButton, &QPushButton::clicked, this, &MainForm::LoadAddressFile);
}

QString MainForm::BodyText() const { return ToQString(BodyCrLf()); }

std::u16string MainForm::BodyCrLf() const { return WithCrLf(View(m_body->toPlainText())); }

void MainForm::BodyEdited() {
  m_keeper.BodyEdited();
  ShowModel();
}

void MainForm::OwnAddressEdited(const QString& text) {
  if (m_clearing) return;
  m_model.OwnAddressChanged(View(text));
  ShowModel();
}

void MainForm::SubjectEdited(const QString& text) {
  if (m_clearing) return;
  m_model.SubjectChanged(View(text));
  ShowModel();
}

void MainForm::ByteModeToggled(bool ticked) {
  if (ticked) {
    m_keeper.CharacterModeEnds();
    m_model.ByteModeTicked();
  } else {
    m_model.ByteModeUnticked();
    m_keeper.CharacterModeBegan();
  }
  // The box itself says only whether it is ticked: the count it changed is said too.
  const QString count = ticked ? tr("%1バイト") : tr("%1文字");
  Announce(count.arg(m_model.Counter()) + QLatin1Char(' ') + RoomText(m_model.RoomLeft(), ticked));
  ShowModel();
}

// The body is emptied through a cursor, not clear(), so that its undo history keeps
// what was there: a misclick is one Ctrl+Z away, in every field.
void MainForm::ClearAll() {
  m_clearing = true;
  {
    const BodySync::Hold held(*m_bodySync);
    QTextCursor cursor(m_body->document());
    cursor.select(QTextCursor::Document);
    cursor.removeSelectedText();
  }
  m_ownAddress->clear();
  m_recipient->clear();
  m_subject->clear();
  m_clearing = false;
  m_model.AllCleared();
  m_keeper.Cleared();
  ShowModel();
  Announce(tr("消しました"));
}

void MainForm::SaveAddressFile() {
  const Result<> saved =
      SaveAddresses(m_files.AddressFile(), {m_ownAddress->text(), m_recipient->text()});
  if (!saved) {
    ShowError(saved.error());
    return;
  }
  Announce(tr("保存しました"));
}

void MainForm::LoadAddressFile() {
  const Result<AddressPair> loaded = LoadAddresses(m_files.AddressFile());
  if (!loaded) {
    ShowError(loaded.error());  // fields and counters stay as they were
    return;
  }
  m_ownAddress->setText(loaded->own);
  m_recipient->setText(loaded->recipient);
  m_model.AddressesLoaded(View(loaded->own));
  ShowModel();
  Announce(tr("読み込みました"));
}

void MainForm::ConnectSend(SendWays ways) {
  m_send = std::make_unique<SendSession>(std::move(ways), m_sendButton);
  connect(m_sendButton, &QPushButton::clicked, this, &MainForm::SendMail);
  // Past the limit, in parts when asked for; through the same session, so one send at a time.
  new PartsSend(*m_send, {m_recipient, m_ownAddress, m_subject, m_body, m_showCompose},
                *m_announcer, this);
  connect(m_send.get(), &SendSession::Failed, this, &MainForm::ShowError);
  // Said to a screen reader, which cannot see the busy state end.
  connect(m_send.get(), &SendSession::Sent, this, [this](bool compose) {
    Announce(compose ? tr("メールソフトに渡しました") : tr("送信しました"));
  });
  // The notice goes too: a close refused then (the body not kept) leaves the window open.
  connect(m_send.get(), &SendSession::CloseDue, this, [this] {
    m_closingNotice->hide();
    close();
  });
}

// Hands the message over as it stands now; the session lets the window go on. The
// transport checks the recipient and reports what is wrong with it like any other failure.
void MainForm::SendMail() {
  if (m_send->Busy()) return;  // one send at a time: the button is inert meanwhile
  m_send->Start({m_recipient->text(), m_subject->text(), BodyText()}, m_showCompose->isChecked());
}

void MainForm::ShowModel() {
  const QString number = QString::number(m_model.Counter());
  const QString room = RoomText(m_model.RoomLeft(), m_model.ByteMode());
  const QString title = ToQString(TitleText(m_model.WindowTitle()));
  m_counter->setText(number);
  SetDescription(m_counter, room);
  // A screen reader reads the count where the user is: the counter's name and the body's
  // description carry the number, the room left and any warning.
  const QString spoken = number + QLatin1Char(' ') + room;
  if (m_counter->accessibleName() != spoken) m_counter->setAccessibleName(spoken);
  const QString description = spoken + ToQString(WarningText(m_model.WindowTitle()));
  if (m_body->accessibleDescription() != description) m_body->setAccessibleDescription(description);
  setWindowTitle(title);
  ShowFieldRoom(m_ownAddress, m_model.AddressRoomLeft(), m_ownAddressRoomShown);
  ShowFieldRoom(m_subject, m_model.SubjectRoomLeft(), m_subjectRoomShown);
  m_spillTint->Schedule();
  m_announcer->AnnounceCrossings(m_model.Past());
}

void MainForm::Announce(const QString& text) { m_announcer->Announce(text); }

void MainForm::ShowFieldRoom(QLineEdit* field, std::int64_t roomLeft, std::int64_t& shown) {
  if (roomLeft == shown) return;  // a keystroke in the body leaves the fields as they are
  const bool wasOver = shown < 0;
  shown = roomLeft;
  SetDescription(field, RoomText(roomLeft, true));
  const bool over = roomLeft < 0;
  if (over == wasOver) return;
  QPalette palette;  // the inherited one, when within the limit
  if (over) {
    palette = field->palette();
    palette.setColor(QPalette::Base, OverLimitTint(palette));
  }
  field->setPalette(palette);
}

void MainForm::FlushScratchFile() { m_keeper.Flush(); }

// Qt ends the program right after this.
void MainForm::FlushScratchFileWithoutDisplay() { m_keeper.KeepWithoutDisplay(); }

// The error box (ShowErrorBox), or standard error once the display is gone.
void MainForm::ShowError(const Error& error) {
  if (m_keeper.DisplayGone()) {
    std::fprintf(stderr, "kelmo: %d: %s\n", error.number, qPrintable(error.description));
    return;
  }
  ShowErrorBox(this, error);
}

}  // namespace kelmo
