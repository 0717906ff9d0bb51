#include "window/main_form.h"

#include <QApplication>
#include <QCheckBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QTextDocument>

#include "addressfile/address_file.h"
#include "addressfile/file_error.h"
#include "mail/mail_transport.h"
#include "mail/system_transport.h"
#include "measure/char_count.h"
#include "measure/mbcs.h"
#include "measure/message_total.h"

namespace kelmo {
namespace {

// The layout is given in twips; 15 twips make one logical pixel.
constexpr int kTwipsPerPixel = 15;
const QString kScratchFileName = QStringLiteral("temp.tmp");

constexpr QSize kClientSize(6330 / kTwipsPerPixel, 3675 / kTwipsPerPixel);  // 422 x 245

QRect Twips(int left, int top, int width, int height) {
  return QRect(left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel,
               height / kTwipsPerPixel);
}

std::u16string_view View(const QString& text) {
  return {reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size())};
}

QString FromView(std::u16string_view text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

MainForm::MainForm(QWidget* parent) : MainForm(std::make_unique<SystemMailTransport>(), parent) {}

MainForm::MainForm(std::unique_ptr<MailTransport> mail, QWidget* parent)
    : QWidget(parent), m_mail(std::move(mail)) {
  setWindowTitle(FromView(TitleText(Title::Plain)));
  QIcon icon;
  icon.addFile(QStringLiteral(":/icons/kelmo-16.png"), QSize(16, 16));
  icon.addFile(QStringLiteral(":/icons/kelmo-32.png"), QSize(32, 32));
  setWindowIcon(icon);
  QFont font = this->font();
  font.setPixelSize(12);
  setFont(font);

  CreateControls();
  PlaceControls();
  SetTabOrder();
  ConnectHandlers();
  setFixedSize(kClientSize);
  Text1->setFocus();
}

MainForm::~MainForm() = default;

void MainForm::CreateControls() {
  auto named = [this](auto* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
  };
  Label1[0] = named(new QLabel(tr("件名"), this), "Label1_0");
  Label1[1] = named(new QLabel(tr("相手のアド"), this), "Label1_1");
  Label1[2] = named(new QLabel(tr("自分のアド"), this), "Label1_2");
  Text3 = named(new QLineEdit(this), "Text3");
  Text2 = named(new QLineEdit(this), "Text2");
  Text4 = named(new QLineEdit(this), "Text4");
  // Five full-width characters fill a 55-pixel caption only at 11 pixels.
  QFont captionFont = font();
  captionFont.setPixelSize(11);
  for (QLabel* caption : Label1) caption->setFont(captionFont);
  Label1[0]->setBuddy(Text4);
  Label1[1]->setBuddy(Text3);
  Label1[2]->setBuddy(Text2);

  Text1 = named(new QPlainTextEdit(this), "Text1");
  Text1->setAccessibleName(tr("本文"));
  Text1->setTabChangesFocus(true);
  Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Text1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Text1->setLineWrapMode(QPlainTextEdit::WidgetWidth);

  Ch = named(new QCheckBox(tr("J対応"), this), "Ch");
  Ch->setChecked(true);
  Command1 = named(new QPushButton(QStringLiteral("CLS"), this), "Command1");

  // The counter keeps its number as its accessible name, so screen readers read the count.
  L = named(new QLabel(QStringLiteral("0"), this), "L");
  L->setAutoFillBackground(true);
  QPalette counterPalette = L->palette();
  counterPalette.setColor(QPalette::Window, Qt::white);
  counterPalette.setColor(QPalette::WindowText, Qt::black);
  L->setPalette(counterPalette);
  L->setFrameStyle(QFrame::Box | QFrame::Plain);  // a sunken edge would vanish against white
  L->setTextInteractionFlags(Qt::TextSelectableByMouse);

  Command3 = named(new QPushButton(tr("メアド保存"), this), "Command3");
  Command4 = named(new QPushButton(tr("メアド読込"), this), "Command4");
  Command5 = named(new QPushButton(tr("送信"), this), "Command5");
  Ch1 = named(new QCheckBox(tr("送信確認"), this), "Ch1");
  Ch1->setFont(captionFont);  // keeps its caption clear of the window's edge
  Command2 = named(new QPushButton(QStringLiteral("EXIT"), this), "Command2");
}

void MainForm::PlaceControls() {
  Label1[1]->setGeometry(Twips(120, 240, 825, 180));
  Text3->setGeometry(Twips(1200, 120, 3975, 375));
  Label1[2]->setGeometry(Twips(120, 600, 825, 180));
  Text2->setGeometry(Twips(1200, 480, 3975, 375));
  Label1[0]->setGeometry(Twips(120, 960, 360, 180));
  Text4->setGeometry(Twips(1200, 840, 3975, 375));
  Text1->setGeometry(Twips(0, 1320, 5175, 2295));
  Ch->setGeometry(Twips(5280, 120, 855, 375));
  Command1->setGeometry(Twips(5280, 480, 975, 375));
  L->setGeometry(Twips(5280, 960, 975, 375));
  Command3->setGeometry(Twips(5280, 1440, 975, 255));
  Command4->setGeometry(Twips(5280, 1800, 975, 255));
  Command5->setGeometry(Twips(5280, 2160, 975, 495));
  Ch1->setGeometry(Twips(5280, 2760, 1095, 255));  // runs past the right edge, as designed
  Command2->setGeometry(Twips(5280, 3120, 975, 495));
}

void MainForm::SetTabOrder() {
  QWidget* const order[] = {Text1, Command2, Text2,    Text4, Command3, Command4,
                            Ch,    Command1, Command5, Text3, Ch1};
  for (std::size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);
}

void MainForm::ConnectHandlers() {
  connect(Text1, &QPlainTextEdit::textChanged, this, &MainForm::Text1_Change);
  connect(Text2, &QLineEdit::textChanged, this, &MainForm::Text2_Change);
  connect(Text4, &QLineEdit::textChanged, this, &MainForm::Text4_Change);
  connect(Ch, &QCheckBox::clicked, this, &MainForm::Ch_Click);
  connect(Command1, &QPushButton::clicked, this, &MainForm::Command1_Click);
  connect(Command2, &QPushButton::clicked, this, &MainForm::Command2_Click);
  connect(Command3, &QPushButton::clicked, this, &MainForm::Command3_Click);
  connect(Command4, &QPushButton::clicked, this, &MainForm::Command4_Click);
  connect(Command5, &QPushButton::clicked, this, &MainForm::Command5_Click);
}

qint64 MainForm::LenMbcs(const QString& text) { return kelmo::LenMbcs(View(text)); }

QString MainForm::BodyText() const {
  QString text = Text1->toPlainText();
  text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
  return text;
}

// Same as LenMbcsRuns(BodyText()) without building that text on every keystroke. The
// editor's raw text separates lines with U+2029 (U+2028 after Shift+Enter), which are
// single-byte like LF: each stands for CR LF, one byte more, and ends a run all the same.
// It keeps NBSP, which the plain text turns into a space of the same width.
qint64 MainForm::BodyBytes() const {
  const QString raw = Text1->document()->toRawText();
  const qint64 breaks = raw.count(QChar::ParagraphSeparator) + raw.count(QChar::LineSeparator);
  return LenMbcsRuns(View(raw)) + breaks;
}

bool MainForm::ByteMode() const { return Ch->isChecked(); }

// Every assignment of the counter re-evaluates the title, even when the number is unchanged.
void MainForm::SetCounterLabel(qint64 number) {
  L->setText(QString::number(number));
  L_Change();
}

void MainForm::Text1_Change() {
  if (ByteMode()) {
    BodyCount = BodyBytes();
    ShowTotal();
  } else {
    CountCharacters();
  }
}

void MainForm::Text2_Change() {
  if (!ByteMode()) return;
  AddressCount = LenMbcs(Text2->text());
  ShowTotal();
}

void MainForm::Text4_Change() {
  if (!ByteMode()) return;
  SubjectCount = LenMbcsRuns(View(Text4->text()));
  ShowTotal();
}

void MainForm::L_Change() { UpdateTitle(); }

void MainForm::Ch_Click() {
  if (ByteMode()) {
    // Edits made in character mode left the address and subject counts stale.
    RecountAll();
  } else {
    Text1_Change();
    setWindowTitle(FromView(TitleText(Title::Plain)));
  }
}

void MainForm::Command1_Click() {
  Text1->clear();
  Text2->clear();
  Text3->clear();
  Text4->clear();
}

// The only window: closing it ends the program.
void MainForm::Command2_Click() { close(); }

void MainForm::Command3_Click() {
  if (auto error = SaveAddresses(kAddressFileName, {Text2->text(), Text3->text()})) {
    ShowError(error->number, error->description);
  }
}

void MainForm::Command4_Click() {
  auto loaded = LoadAddresses(kAddressFileName);
  if (auto* error = std::get_if<FileError>(&loaded)) {
    ShowError(error->number, error->description);  // fields and counters stay as they were
    return;
  }
  const auto& addresses = std::get<AddressPair>(loaded);
  Text2->setText(addresses.own);
  Text3->setText(addresses.recipient);
  if (ByteMode()) RecountAll();
}

// Sign-on and sign-off failures are reported like any other: the message stays in the window.
void MainForm::Command5_Click() {
  if (auto error = CheckRecipient(Text3->text())) {
    ShowError(error->number(), error->description());
    return;
  }
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const auto restoreCursor = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
  try {
    m_mail->signOn();
  } catch (const MailError& error) {
    ShowError(error.number(), error.description());
    return;
  }
  SendMail();
  try {
    m_mail->signOff();
  } catch (const MailError& error) {
    ShowError(error.number(), error.description());
  }
}

// The first failing step skips the rest; the error is shown and the caller signs off.
void MainForm::SendMail() {
  try {
    m_mail->setSessionId(m_mail->sessionId());
    m_mail->compose();
    const QString recipient = Text3->text();
    m_mail->setRecipientDisplayName(recipient);
    m_mail->setRecipientAddress(recipient);
    m_mail->setSubject(Text4->text());
    m_mail->setNoteText(BodyText());
    m_mail->send(Ch1->isChecked());
  } catch (const MailError& error) {
    ShowError(error.number(), error.description());
  }
}

void MainForm::ShowTotal() { SetCounterLabel(MessageTotal(BodyCount, AddressCount, SubjectCount)); }

void MainForm::UpdateTitle() {
  const qint64 shown = L->text().toLongLong();
  setWindowTitle(FromView(TitleText(ChooseTitle(AddressCount, SubjectCount, shown))));
}

void MainForm::RecountAll() {
  BodyCount = BodyBytes();
  AddressCount = LenMbcs(Text2->text());
  SubjectCount = LenMbcsRuns(View(Text4->text()));
  ShowTotal();
}

// The scratch file is written for whoever reads it; the count itself never depends on it,
// so a directory we cannot write to costs one message, not the count or the text.
void MainForm::CountCharacters() {
  const QString body = BodyText();
  const std::string bytes = ScratchFileBytes(View(body));
  const auto error =
      WriteFileBytes(kScratchFileName,
                     QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size())));
  const bool reported = m_scratchFileFailing;
  m_scratchFileFailing = error.has_value();
  SetCounterLabel(CharacterCount(View(body)));
  if (error && !reported) ShowError(error->number, error->description);
}

// The error number, a CR, then the description; exclamation icon, OK only.
void MainForm::ShowError(int number, const QString& description) {
  // A send in progress shows a busy cursor; the box must not.
  const bool busy = QApplication::overrideCursor() != nullptr;
  if (busy) QApplication::restoreOverrideCursor();
  QMessageBox::warning(this, QStringLiteral("Kelmo"),
                       QString::number(number) + QLatin1Char('\r') + description);
  if (busy) QApplication::setOverrideCursor(Qt::WaitCursor);
}

}  // namespace kelmo
