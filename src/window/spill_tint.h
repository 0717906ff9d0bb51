// The body's tint from where the message passes its limit to the body's end, as the
// model places it; and the tint itself, which the fields past their limits share.
#pragma once

#include <QColor>
#include <QObject>
#include <QPalette>

class QPlainTextEdit;

namespace kelmo {

class MessageModel;

// Marks what is past a limit: the palette's base mixed with red, so that the text keeps
// its contrast in light and dark themes alike.
QColor OverLimitTint(const QPalette& palette);

class SpillTint : public QObject {
 public:
  // Tints `body` where `model` says it spills over; both outlive the tint.
  SpillTint(QPlainTextEdit* body, const MessageModel& model, QObject* parent = nullptr);

  // The model may have moved the spill. The body reports an edit while its layout is still
  // being rebuilt, and the editor reads that layout to place a tint: the tint moves once
  // the edit is over, when the event loop next turns, and a burst of edits (a paste, a
  // held key) moves it once.
  void Schedule();

 private:
  void Show();

  QPlainTextEdit* m_body;
  const MessageModel& m_model;
  bool m_shown = false;      // the tint is on
  bool m_scheduled = false;  // the tint is to follow the model when the edit is over
};

}  // namespace kelmo
