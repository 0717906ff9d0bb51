#include "window/spill_tint.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <optional>

#include "message/message_model.h"

namespace kelmo {

QColor OverLimitTint(const QPalette& palette) {
  const QColor base = palette.color(QPalette::Base);
  constexpr double kRed = 0.3;
  return QColor::fromRgbF(static_cast<float>(base.redF() * (1 - kRed) + kRed),
                          static_cast<float>(base.greenF() * (1 - kRed)),
                          static_cast<float>(base.blueF() * (1 - kRed)));
}

SpillTint::SpillTint(QPlainTextEdit* body, const MessageModel& model, QObject* parent)
    : QObject(parent), m_body(body), m_model(model) {}

void SpillTint::Schedule() {
  if (m_scheduled) return;
  m_scheduled = true;
  QMetaObject::invokeMethod(
      this,
      [this] {
        m_scheduled = false;
        Show();
      },
      Qt::QueuedConnection);
}

// Extra selections belong to the view: the text, its undo history and the counts never
// see them.
void SpillTint::Show() {
  const std::optional<BodyPosition> spill = m_model.Spill();
  if (!spill && !m_shown) return;
  QList<QTextEdit::ExtraSelection> selections;
  if (spill) {
    const QTextDocument* document = m_body->document();
    const QTextBlock block = document->findBlockByNumber(static_cast<int>(spill->paragraph));
    const int start = block.position() + static_cast<int>(spill->offset);
    const int end = document->characterCount() - 1;
    const QList<QTextEdit::ExtraSelection> shown = m_body->extraSelections();
    if (shown.size() == 1 && shown.front().cursor.selectionStart() == start &&
        shown.front().cursor.selectionEnd() == end) {
      return;
    }
    QTextEdit::ExtraSelection tint;
    tint.cursor = QTextCursor(m_body->document());
    tint.cursor.setPosition(start);
    tint.cursor.setPosition(end, QTextCursor::KeepAnchor);
    tint.format.setBackground(OverLimitTint(m_body->palette()));
    selections.append(tint);
  }
  m_body->setExtraSelections(selections);
  m_shown = spill.has_value();
}

}  // namespace kelmo
