// One keystroke in a 1 MiB body through the window, against the same keystroke in a bare
// editor of the same size and font: the window's own share of a keystroke; and the same
// keystroke in character mode against byte mode.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <numeric>
#include <vector>

#include "inputs.h"
#include "mail/compose_transport.h"
#include "mail/sendmail_transport.h"
#include "window/main_form.h"

namespace kelmo::bench {
namespace {

// Nothing is sent here.
SendWays Mail() {
  return {std::make_unique<SendmailTransport>(), std::make_unique<ComposeTransport>()};
}

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
  MainForm form(Mail(), QDir());
  form.show();
  (void)QTest::qWaitForWindowExposed(&form);
  auto* body = form.findChild<QPlainTextEdit*>(QStringLiteral("body"));
  Fill(*body, static_cast<Where>(state.range(0)));
  Keystrokes(state, body);
}

void BM_KeystrokeInBareEditor(benchmark::State& state) {
  MainForm form(Mail(), QDir());  // only for its font
  QPlainTextEdit editor;
  editor.setFont(form.findChild<QPlainTextEdit*>(QStringLiteral("body"))->font());
  editor.resize(345, 153);
  editor.show();
  (void)QTest::qWaitForWindowExposed(&editor);
  Fill(editor, static_cast<Where>(state.range(0)));
  Keystrokes(state, &editor);
}

// The two side by side, keystroke after keystroke, so that both see the same machine: the
// median of each, and their ratio.
void BM_KeystrokeWindowOverBare(benchmark::State& state) {
  const auto where = static_cast<Where>(state.range(0));
  MainForm form(Mail(), QDir());
  form.show();
  (void)QTest::qWaitForWindowExposed(&form);
  auto* body = form.findChild<QPlainTextEdit*>(QStringLiteral("body"));
  Fill(*body, where);
  QPlainTextEdit editor;
  editor.setFont(body->font());
  editor.resize(body->size());
  editor.show();
  (void)QTest::qWaitForWindowExposed(&editor);
  Fill(editor, where);

  // With the events the keystroke leaves for the event loop: the window's tint follows the
  // edit there.
  auto time = [](QPlainTextEdit* target) {
    const auto start = std::chrono::steady_clock::now();
    QTest::keyClick(target, 'x');
    QCoreApplication::processEvents();
    const auto end = std::chrono::steady_clock::now();
    QTest::keyClick(target, Qt::Key_Backspace);
    return std::chrono::duration<double, std::micro>(end - start).count();
  };
  std::vector<double> window;
  std::vector<double> bare;
  for (auto _ : state) {
    window.push_back(time(body));
    bare.push_back(time(&editor));
    state.SetIterationTime((window.back() + bare.back()) / 1e6);
  }
  auto median = [](std::vector<double>& v) {
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
    return v[v.size() / 2];
  };
  const double windowMedian = median(window);
  const double bareMedian = median(bare);
  state.counters["window_us"] = windowMedian;
  state.counters["bare_us"] = bareMedian;
  state.counters["ratio"] = windowMedian / bareMedian;
  state.SetLabel(where == kEnd ? "end" : "middle");
}

// One keystroke in a 1 MiB body in character mode against the same in byte mode, two
// windows taking turns. Each keystroke is timed with the events it leaves for the event
// loop, so the scratch file writes that character mode makes now and then are counted
// too: in the mean, since they fall on few keystrokes.
void BM_KeystrokeCharacterOverByteMode(benchmark::State& state) {
  const auto where = static_cast<Where>(state.range(0));
  QTemporaryDir folder;  // for temp.tmp
  {
    MainForm bytes(Mail(), QDir(folder.path()));
    MainForm characters(Mail(), QDir(folder.path()));
    for (MainForm* form : {&bytes, &characters}) {
      form->show();
      (void)QTest::qWaitForWindowExposed(form);
    }
    characters.findChild<QCheckBox*>(QStringLiteral("byteMode"))->click();
    auto* byteBody = bytes.findChild<QPlainTextEdit*>(QStringLiteral("body"));
    auto* characterBody = characters.findChild<QPlainTextEdit*>(QStringLiteral("body"));
    Fill(*byteBody, where);
    Fill(*characterBody, where);

    auto time = [](QPlainTextEdit* target) {
      const auto start = std::chrono::steady_clock::now();
      QTest::keyClick(target, 'x');
      QCoreApplication::processEvents();
      const auto end = std::chrono::steady_clock::now();
      QTest::keyClick(target, Qt::Key_Backspace);
      QCoreApplication::processEvents();
      return std::chrono::duration<double, std::micro>(end - start).count();
    };
    std::vector<double> byteMode;
    std::vector<double> characterMode;
    for (auto _ : state) {
      byteMode.push_back(time(byteBody));
      characterMode.push_back(time(characterBody));
      state.SetIterationTime((byteMode.back() + characterMode.back()) / 1e6);
    }
    auto median = [](std::vector<double> v) {
      std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
      return v[v.size() / 2];
    };
    auto mean = [](const std::vector<double>& v) {
      return std::accumulate(v.begin(), v.end(), 0.0) / static_cast<double>(v.size());
    };
    state.counters["bytes_us"] = median(byteMode);
    state.counters["chars_us"] = median(characterMode);
    state.counters["ratio"] = median(characterMode) / median(byteMode);
    state.counters["mean_ratio"] = mean(characterMode) / mean(byteMode);
  }
  state.SetLabel(where == kEnd ? "end" : "middle");
}

BENCHMARK(BM_KeystrokeCharacterOverByteMode)
    ->DenseRange(kEnd, kMiddle)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_KeystrokeWindowOverBare)
    ->DenseRange(kEnd, kMiddle)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
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
