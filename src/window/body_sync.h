// Keeps the model's body in step with the editor's document: each change the document
// reports becomes one edit of the model, measured over the paragraphs it touched.
#pragma once

#include <QObject>
#include <cstdint>

#include "message/message_model.h"

class QTextDocument;

namespace kelmo {

class BodySync : public QObject {
  Q_OBJECT

 public:
  BodySync(const QTextDocument* document, MessageModel& model, QObject* parent = nullptr);

  // Changes of the body so far, held ones, undo and redo included.
  std::int64_t Edits() const { return m_edits; }

  // While one lives, changes are counted but not measured: the owner tells the model
  // itself what became of the body (a clear that empties every field at once).
  class Hold {
   public:
    explicit Hold(BodySync& sync) : m_sync(sync) { m_sync.m_held = true; }
    ~Hold() { m_sync.m_held = false; }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

   private:
    BodySync& m_sync;
  };

 Q_SIGNALS:
  // The model's body follows a change of the document.
  void Edited();

 private:
  void DocumentChanged(int position, int charsRemoved, int charsAdded);
  // Measures every paragraph again.
  void Resync();

  const QTextDocument* m_document;
  MessageModel& m_model;
  std::int64_t m_edits = 0;
  bool m_held = false;
};

}  // namespace kelmo
