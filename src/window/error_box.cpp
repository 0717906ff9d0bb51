#include "window/error_box.h"

#include <QApplication>
#include <QCursor>
#include <QMessageBox>
#include <vector>

namespace kelmo {
namespace {

// Takes every override cursor away while it lives and puts them back, in order, after.
class OrdinaryCursor {
 public:
  OrdinaryCursor() {
    while (const QCursor* cursor = QApplication::overrideCursor()) {
      m_lifted.push_back(*cursor);
      QApplication::restoreOverrideCursor();
    }
  }
  ~OrdinaryCursor() {
    for (auto it = m_lifted.rbegin(); it != m_lifted.rend(); ++it) {
      QApplication::setOverrideCursor(*it);
    }
  }
  OrdinaryCursor(const OrdinaryCursor&) = delete;
  OrdinaryCursor& operator=(const OrdinaryCursor&) = delete;

 private:
  std::vector<QCursor> m_lifted;  // the top one first
};

}  // namespace

void ShowErrorBox(QWidget* parent, const Error& error) {
  const OrdinaryCursor ordinary;
  QMessageBox::warning(parent, QStringLiteral("Kelmo"), ErrorBoxText(error));
}

}  // namespace kelmo
