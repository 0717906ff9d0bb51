// Renders the dialog before a split send, offscreen, to a PNG: the README's picture.
//   QT_QPA_PLATFORM=offscreen split_dialog_picture docs/split-dialog.png
#include <QApplication>
#include <QFont>
#include <QPixmap>
#include <cstdio>

#include "message/split.h"
#include "window/split_dialog.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: split_dialog_picture OUT.png\n");
    return 2;
  }
  QFont font = QApplication::font();
  font.setPixelSize(12);  // the window's own
  QApplication::setFont(font);
  // A message of three mails: a long line, then lines of notes.
  std::u16string body =
      u"明日の打ち合わせについてです。会議室は三階の第二会議室に変わりました。\r\n";
  for (int k = 0; k < 10; ++k) {
    body += u"資料は前日までに共有フォルダへ置いてください。質問があれば返信で。\r\n";
  }
  body += u"以上、よろしくお願いします。";
  const auto parts = kelmo::SplitMessage(body, u"me@example.jp", u"打ち合わせ");
  if (!parts) return 1;
  kelmo::SplitDialog dialog(*parts);
  dialog.resize(470, 210);
  dialog.show();
  QApplication::processEvents();
  if (!dialog.grab().save(QString::fromLocal8Bit(argv[1]))) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 2;
  }
  return 0;
}
