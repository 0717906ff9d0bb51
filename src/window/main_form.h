// The one window: a view over the message model. It builds and places the controls,
// wires them to the model (the body through a BodySync) and to the file and mail actions,
// and shows what the model says, to the eye and, through an Announcer, to screen readers.
#pragma once

#include <QDir>
#include <QWidget>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>

#include "datafiles/data_folder.h"
#include "error/error.h"
#include "message/message_model.h"
#include "window/body_keeper.h"
#include "window/send_session.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace kelmo {

class Announcer;
class BodySync;
class SpillTint;
struct Error;

class MainForm : public QWidget {
  Q_OBJECT

 public:
  // Sends through one of `ways`, as the 送信確認 box picks; keeps the address file and the
  // scratch file in `dataFolder`.
  MainForm(SendWays ways, const QDir& dataFolder, QWidget* parent = nullptr);
  ~MainForm() override;

  const MessageModel& Model() const { return m_model; }
  // The body as it is written and sent: every line break as CR LF.
  QString BodyText() const;
  // Writes a pending change of the body to the scratch file now rather than shortly.
  void FlushScratchFile();
  // The same when the display is gone, a failed write tried again: a failure is said on
  // standard error, as no window is left to show it in.
  void FlushScratchFileWithoutDisplay();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateControls();
  void PlaceControls();
  void SetTabOrder();
  void ConnectHandlers();
  void ConnectSend(SendWays ways);

  // What the user did.
  void BodyEdited();
  void OwnAddressEdited(const QString& text);
  void SubjectEdited(const QString& text);
  void ByteModeToggled(bool ticked);
  void ClearAll();
  void SaveAddressFile();
  void LoadAddressFile();
  void SendMail();

  // BodyText() before it becomes a QString: what the scratch file encodes.
  std::u16string BodyCrLf() const;
  void ShowModel();
  void ShowFieldRoom(QLineEdit* field, std::int64_t roomLeft, std::int64_t& shown);
  void ShowError(const Error& error);
  // Says `text` to a screen reader once, as it happens; a sighted user sees no change.
  void Announce(const QString& text);

  QLabel* m_recipientCaption = nullptr;
  QLineEdit* m_recipient = nullptr;
  QLabel* m_ownAddressCaption = nullptr;
  QLineEdit* m_ownAddress = nullptr;
  QLabel* m_subjectCaption = nullptr;
  QLineEdit* m_subject = nullptr;
  QPlainTextEdit* m_body = nullptr;
  QCheckBox* m_byteMode = nullptr;  // ticked: count bytes; unticked: count characters
  QPushButton* m_clearButton = nullptr;
  QLabel* m_counter = nullptr;
  QPushButton* m_saveButton = nullptr;
  QPushButton* m_loadButton = nullptr;
  QPushButton* m_sendButton = nullptr;
  QCheckBox* m_showCompose = nullptr;  // open the mail client's compose window
  QPushButton* m_exitButton = nullptr;
  QLabel* m_closingNotice = nullptr;  // shown while a close waits for a send to end
  Announcer* m_announcer = nullptr;
  BodySync* m_bodySync = nullptr;
  SpillTint* m_spillTint = nullptr;

  MessageModel m_model;
  bool m_clearing = false;  // the fields' own change reports wait for the clear
  // The fields' room left as last shown; none yet, and within the limit.
  std::int64_t m_ownAddressRoomShown = std::numeric_limits<std::int64_t>::max();
  std::int64_t m_subjectRoomShown = std::numeric_limits<std::int64_t>::max();
  std::unique_ptr<SendSession> m_send;
  DataFolder m_files;
  BodyKeeper m_keeper;  // the body in the scratch file, in character mode
};

}  // namespace kelmo
