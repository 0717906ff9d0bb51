#include "window/body_sync.h"

#include <QTextBlock>
#include <QTextDocument>
#include <string_view>
#include <vector>

#include "utf16/utf16.h"

namespace kelmo {
namespace {

// The texts of `count` blocks from `block` on; the QStrings keep the views valid.
struct BlockTexts {
  std::vector<QString> texts;
  std::vector<std::u16string_view> views;

  BlockTexts(QTextBlock block, int count) {
    texts.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count && block.isValid(); ++i, block = block.next()) {
      texts.push_back(block.text());
    }
    for (const QString& text : texts) views.push_back(View(text));
  }
};

}  // namespace

BodySync::BodySync(const QTextDocument* document, MessageModel& model, QObject* parent)
    : QObject(parent), m_document(document), m_model(model) {
  connect(document, &QTextDocument::contentsChange, this, &BodySync::DocumentChanged);
}

// Only the blocks the change touched are measured again. In the changed document they
// run from the block holding `position` to the one holding its end; they replace as
// many old paragraphs as keep the block count right.
void BodySync::DocumentChanged(int position, int /*charsRemoved*/, int charsAdded) {
  ++m_edits;
  if (m_held) return;
  QTextBlock first = m_document->findBlock(position);
  if (!first.isValid()) first = m_document->lastBlock();
  // A keystroke stays in its block: no second look-up.
  QTextBlock last = position + charsAdded < first.position() + first.length()
                        ? first
                        : m_document->findBlock(position + charsAdded);
  if (!last.isValid()) last = m_document->lastBlock();
  const int firstNumber = first.blockNumber();
  const int added = (last == first ? firstNumber : last.blockNumber()) - firstNumber + 1;
  const auto before = static_cast<int>(m_model.Body().Paragraphs());
  const int removed = added - (m_document->blockCount() - before);
  const BlockTexts texts(first, added);
  if (removed < 0 || !m_model.BodyChanged(static_cast<std::size_t>(firstNumber),
                                          static_cast<std::size_t>(removed), texts.views)) {
    Resync();  // a change the document reported out of range
  }
  Q_EMIT Edited();
}

void BodySync::Resync() {
  const BlockTexts texts(m_document->firstBlock(), m_document->blockCount());
  m_model.BodyReplaced(texts.views);
}

}  // namespace kelmo
