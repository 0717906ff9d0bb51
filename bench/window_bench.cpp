// One keystroke in a 1 MiB body through the window, against the same keystroke in a bare
// editor of the same size and font: the window's own share of a keystroke.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <QTest>

#include "inputs.h"
#include "window/main_form.h"

namespace kelmo::bench {
namespace {

enum Where { kEnd = 0, kMiddle = 1 };

void Fill(QPlainTextEdit& editor, Where where) {
  const std::u16string text = AsciiMail();
  editor.setPlainText(QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size())));
  QTextCursor cursor = editor.textCursor();
  cursor.setPosition(where == kEnd ? editor.document()->characterCount() - 1
                                   : editor.document()->characterCount() / 2);
  editor.setTextCursor(cursor);
  editor.setFocus();
}

// Types a letter, then takes it back, so the body stays the same size throughout.
void Keystrokes(benchmark::State& state, QPlainTextEdit* editor) {
  for (auto _ : state) {
    QTest::keyClick(editor, 'x');
    state.PauseTiming();
    QTest::keyClick(editor, Qt::Key_Backspace);
    state.ResumeTiming();
  }
  state.SetLabel(state.range(0) == kEnd ? "end" : "middle");
}

void BM_KeystrokeInWindow(benchmark::State& state) {
  MainForm form;
  form.show();
  (void)QTest::qWaitForWindowExposed(&form);
  auto* body = form.findChild<QPlainTextEdit*>(QStringLiteral("body"));
  Fill(*body, static_cast<Where>(state.range(0)));
  Keystrokes(state, body);
}

void BM_KeystrokeInBareEditor(benchmark::State& state) {
  MainForm form;  // only for its font
  QPlainTextEdit editor;
  editor.setFont(form.findChild<QPlainTextEdit*>(QStringLiteral("body"))->font());
  editor.resize(345, 153);
  editor.show();
  (void)QTest::qWaitForWindowExposed(&editor);
  Fill(editor, static_cast<Where>(state.range(0)));
  Keystrokes(state, &editor);
}

BENCHMARK(BM_KeystrokeInWindow)->DenseRange(kEnd, kMiddle)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_KeystrokeInBareEditor)->DenseRange(kEnd, kMiddle)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace kelmo::bench

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
