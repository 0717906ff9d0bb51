// One keystroke in a 1 MiB body through the window, against reading that body out once.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <QTest>

#include "inputs.h"
#include "window/main_form.h"

namespace kelmo::bench {
namespace {

QPlainTextEdit* BodyOf(MainForm& form) {
  return form.findChild<QPlainTextEdit*>(QStringLiteral("Text1"));
}

void Prepare(MainForm& form) {
  form.show();
  (void)QTest::qWaitForWindowExposed(&form);
  const std::u16string text = AsciiMail();
  BodyOf(form)->setPlainText(QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size())));
  BodyOf(form)->moveCursor(QTextCursor::End);
  BodyOf(form)->setFocus();
}

void BM_KeystrokeInBody(benchmark::State& state) {
  MainForm form;
  Prepare(form);
  QPlainTextEdit* body = BodyOf(form);
  for (auto _ : state) QTest::keyClick(body, 'x');
}

void BM_ToPlainTextOfBody(benchmark::State& state) {
  MainForm form;
  Prepare(form);
  QPlainTextEdit* body = BodyOf(form);
  for (auto _ : state) benchmark::DoNotOptimize(body->toPlainText().size());
}

// The same keystroke in a bare QPlainTextEdit of the same size: the editor's own share.
void BM_KeystrokeInBareEditor(benchmark::State& state) {
  QPlainTextEdit editor;
  editor.resize(345, 153);
  editor.show();
  (void)QTest::qWaitForWindowExposed(&editor);
  const std::u16string text = AsciiMail();
  editor.setPlainText(QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size())));
  editor.moveCursor(QTextCursor::End);
  editor.setFocus();
  for (auto _ : state) QTest::keyClick(&editor, 'x');
}

BENCHMARK(BM_KeystrokeInBody)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_KeystrokeInBareEditor)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ToPlainTextOfBody)->Unit(benchmark::kMicrosecond);

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
