// The one window: four text fields, the counter and the buttons around them.
#pragma once

#include <QWidget>
#include <array>
#include <memory>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace kelmo {

struct FileError;
class MailTransport;

class MainForm : public QWidget {
  Q_OBJECT

 public:
  // Sends through the Linux mail system.
  explicit MainForm(QWidget* parent = nullptr);
  // Sends through `mail`.
  explicit MainForm(std::unique_ptr<MailTransport> mail, QWidget* parent = nullptr);
  ~MainForm() override;

  // Code page 932 bytes of a text.
  static qint64 LenMbcs(const QString& text);

  // The body as it is measured, written and sent: every line break as CR LF.
  QString BodyText() const;

 private:
  void CreateControls();
  void PlaceControls();
  void SetTabOrder();
  void ConnectHandlers();

  bool ByteMode() const;
  qint64 BodyBytes() const;
  void SetCounterLabel(qint64 number);

  // Handlers, named by control and event.
  void Text1_Change();
  void Text2_Change();
  void Text4_Change();
  void L_Change();
  void Ch_Click();
  void Command1_Click();
  void Command2_Click();
  void Command3_Click();
  void Command4_Click();
  void Command5_Click();

  void ShowTotal();
  void UpdateTitle();
  void RecountAll();
  void CountCharacters();
  void SendMail();
  void ShowError(int number, const QString& description);

  QPlainTextEdit* Text1 = nullptr;  // body
  QLineEdit* Text2 = nullptr;       // own address
  QLineEdit* Text3 = nullptr;       // recipient
  QLineEdit* Text4 = nullptr;       // subject
  std::array<QLabel*, 3> Label1{};  // captions: subject, recipient, own address
  QCheckBox* Ch = nullptr;          // ticked: count bytes; unticked: count characters
  QCheckBox* Ch1 = nullptr;         // show the mail client's compose window
  QLabel* L = nullptr;              // the counter
  QPushButton* Command1 = nullptr;  // CLS
  QPushButton* Command2 = nullptr;  // EXIT
  QPushButton* Command3 = nullptr;  // save addresses
  QPushButton* Command4 = nullptr;  // load addresses
  QPushButton* Command5 = nullptr;  // send

  qint64 BodyCount = 0;
  qint64 AddressCount = 0;
  qint64 SubjectCount = 0;

  bool m_scratchFileFailing = false;  // reported once until a write succeeds again
  std::unique_ptr<MailTransport> m_mail;
};

}  // namespace kelmo
