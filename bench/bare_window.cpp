// The window's widgets, of the same kinds, sizes and font, with no model, no files and
// no handlers behind them: what the window's idle memory is measured against
// (idle_memory.py).
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>
#include <utility>

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QWidget window;
  QFont font = window.font();
  font.setPixelSize(12);
  window.setFont(font);
  window.setWindowTitle(QStringLiteral("Kelmo"));
  // NOLINTBEGIN(readability-magic-numbers): the window's rectangles, in pixels
  for (const auto& [text, rect] :
       {std::pair{"件名", QRect(8, 64, 24, 12)}, std::pair{"相手のアド", QRect(8, 16, 55, 12)},
        std::pair{"自分のアド", QRect(8, 40, 55, 12)}}) {
    (new QLabel(QString::fromUtf8(text), &window))->setGeometry(rect);
  }
  for (const QRect& rect :
       {QRect(80, 8, 265, 24), QRect(80, 32, 265, 24), QRect(80, 56, 265, 25)}) {
    (new QLineEdit(&window))->setGeometry(rect);
  }
  (new QPlainTextEdit(&window))->setGeometry(0, 88, 345, 153);
  (new QCheckBox(QStringLiteral("J対応"), &window))->setGeometry(352, 8, 57, 24);
  (new QLabel(QStringLiteral("0"), &window))->setGeometry(352, 64, 65, 25);
  const std::pair<const char*, QRect> buttons[] = {{"CLS", QRect(352, 32, 65, 25)},
                                                   {"メアド保存", QRect(352, 96, 65, 17)},
                                                   {"メアド読込", QRect(352, 120, 65, 17)},
                                                   {"送信", QRect(352, 144, 65, 33)},
                                                   {"EXIT", QRect(352, 208, 65, 33)}};
  for (const auto& [text, rect] : buttons) {
    (new QPushButton(QString::fromUtf8(text), &window))->setGeometry(rect);
  }
  (new QCheckBox(QStringLiteral("送信確認"), &window))->setGeometry(352, 184, 73, 17);
  auto* notice = new QLabel(&window);
  notice->setGeometry(0, 196, 345, 45);
  notice->hide();
  // NOLINTEND(readability-magic-numbers)
  window.setFixedSize(422, 245);
  window.show();
  return QApplication::exec();
}
