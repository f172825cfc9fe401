// The road of a card from the reader's line to the target, on a real pty
// and a real X server: the time from the line's CR written to the pty until
// a window of ours has received the last typed character (keyboard, both
// key delays 0), and until the clipboard holds the text (clipboard).
//
// Run under an X server with the "us,ru" layouts, e.g.:
//   app/tests/with-xvfb build/bench/bench_delivery_latency [cards]
#include <QClipboard>
#include <QGuiApplication>
#include <QProcess>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "BenchStats.h"
#include "Pty.h"
#include "ReaderPort.h"
#include "Transfer.h"
#include "x11/XRecorder.h"
#include "XDesktop.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// A card line of the reader and the text the delivery gets for it: the
// card number between the brackets.
std::string CardNumber(int AIndex) {
  char hex[32];
  std::snprintf(hex, sizeof hex, "04%06X8A2B3C", AIndex * 7919 % 0xFFFFFF);
  return hex;
}

bool SpinUntil(const std::function<bool()>& APred, int ATimeoutMs) {
  const auto end = Clock::now() + std::chrono::milliseconds(ATimeoutMs);
  while (!APred()) {
    if (Clock::now() >= end) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
  }
  return true;
}

std::string ReadClipboardWithXclip() {
  QProcess xclip;
  xclip.start("xclip", {"-selection", "clipboard", "-o"});
  if (!xclip.waitForStarted()) return {};
  SpinUntil([&] { return xclip.state() == QProcess::NotRunning || xclip.waitForFinished(1); }, 5000);
  return xclip.readAllStandardOutput().toStdString();
}

}  // namespace

int main(int argc, char** argv) {
  const int cards = argc > 1 ? std::atoi(argv[1]) : 200;
  if (cards <= 0) {
    std::fprintf(stderr, "usage: bench_delivery_latency [cards > 0]\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "xcb");
  QGuiApplication app(argc, argv);

  TestPty pty;
  if (!pty.Ok() || YV_Initialize(0) != S_OK) return 1;
  x11test::XRecorder recorder("Bench target");
  auto desktop = x11::XDesktop::Open();
  if (!recorder.Ok() || !desktop) {
    std::fprintf(stderr, "no X server (run under app/tests/with-xvfb)\n");
    return 1;
  }
  desktop->Activate(recorder.Window());
  if (!desktop->WaitForeground(recorder.Window(), 2000)) return 1;

  TTransfer transfer;
  bool byClipboard = false;
  Clock::time_point delivered{};
  std::string pending;
  int handled = 0;
  TPort port;
  // The card pipeline in short: cut lines at CR, deliver the card number.
  port.SetOnReceive([&](TPort* ASender) {
    pending += ASender->Data().toStdString();
    for (size_t cr; (cr = pending.find('\r')) != std::string::npos;) {
      std::string line = pending.substr(0, cr);
      pending.erase(0, cr + 1);
      if (!pending.empty() && pending[0] == '\n') pending.erase(0, 1);
      size_t open = line.find('['), close = line.find(']');
      if (open == std::string::npos || close == std::string::npos) continue;
      QString text = QString::fromLatin1(line.substr(open + 1, close - open - 1).c_str());
      QString shown, window;
      if (byClipboard)
        transfer.TransferByClipboard(text, shown, &window);
      else
        transfer.TransferByKeyboard(text, shown, &window);
      delivered = Clock::now();
      ++handled;
    }
  });
  port.SetPort(QString::fromStdString(pty.Path().substr(5)));
  if (port.Open() != S_OK) return 1;

  std::vector<double> keyMs, cycleMs, clipMs;
  size_t typedChars = 0;
  double typingMs = 0;
  for (int road = 0; road < 2; ++road) {
    byClipboard = road == 1;
    for (int i = 0; i < cards; ++i) {
      const std::string number = CardNumber(i);
      recorder.Clear();
      const int before = handled;
      if (!pty.Send("Mifare[" + number + "] (1K)")) return 1;
      const auto t0 = Clock::now();
      if (!pty.Send("\r\n")) return 1;
      if (!SpinUntil([&] { return handled > before; }, 10000)) {
        std::fprintf(stderr, "card %d: not delivered\n", i);
        return 1;
      }
      if (byClipboard) {
        clipMs.push_back(Ms(delivered - t0));
        if (QGuiApplication::clipboard()->text().toStdString() != number) return 1;
        continue;
      }
      if (!recorder.WaitFor(number, 5000)) {
        std::fprintf(stderr, "card %d: typed \"%s\"\n", i, recorder.Text().c_str());
        return 1;
      }
      keyMs.push_back(Ms(recorder.LastKeyTime() - t0));
      cycleMs.push_back(Ms(delivered - t0));
      typedChars += number.size();
      typingMs += keyMs.back();
    }
  }
  // An outside client sees the last card on the clipboard.
  const bool clipboardSeen = ReadClipboardWithXclip() == CardNumber(cards - 1);

  const BenchStats k = Summarise(keyMs), c = Summarise(cycleMs), b = Summarise(clipMs);
  std::printf("cards per road                         %d (%zu characters each)\n", cards,
              CardNumber(0).size());
  std::printf("keyboard: CR -> last character         median %.2f ms, p99 %.2f ms, max %.2f ms\n",
              k.median, k.p99, k.max);
  std::printf("keyboard: characters per second        %.0f (CR to last character)\n",
              typedChars / (typingMs / 1000.0));
  std::printf("keyboard: CR -> delivery returned      median %.2f ms, p99 %.2f ms (300 ms pause)\n",
              c.median, c.p99);
  std::printf("clipboard: CR -> clipboard holds text  median %.3f ms, p99 %.3f ms, max %.3f ms\n",
              b.median, b.p99, b.max);
  std::printf("clipboard read by xclip                %s\n", clipboardSeen ? "yes" : "NO");
  port.Close();
  YV_Finalyze();
  return clipboardSeen ? 0 : 1;
}
