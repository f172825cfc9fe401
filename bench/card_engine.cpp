// The card road without a window: reader lines are cut, parsed, converted by
// the standard formats (every class cycles through all of its formats),
// shown in display form and logged, against a view and a delivery that do
// nothing. Reports lines per second over a stream delivered in chunks, and
// the median time of one line delivered on its own.
//
//   bench_card_engine [lines]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "BenchStats.h"
#include "CardPipeline.h"
#include "Profiles.h"

namespace {

class NullView : public ICardView {
 public:
  void ShowPortText(const QString&) override {}
  void ShowCardBytes(const QStringList&) override {}
  void ShowCardType(const QString&) override {}
  void ShowLastFmt(const QString&) override {}
  void ShowTrans(const TransDisplay& AShown) override { chars += AShown.text.size(); }
  void ShowWindow(const QString&) override {}
  void ShowClassPage(TCvtFmtType) override {}
  long long chars = 0;
};

class SinkDelivery : public ICardDelivery {
 public:
  QString TransferByKeyboard(const QString& AText, QString& AShown, QString* AWindow) override {
    TransferByClipboard(AText, AShown, AWindow);
    return QString();
  }
  void TransferByClipboard(const QString& AText, QString& AShown, QString* AWindow) override {
    AShown = AText;
    if (AWindow) *AWindow = QStringLiteral("<clipboard>");
    ++delivered;
  }
  void WriteLog(TovkCardType, bool, const QString&, const QString&, const QString&, const QString&) override {
    ++logged;
  }
  long long delivered = 0, logged = 0;
};

class RotatingFormats : public ICardFormats {
 public:
  RotatingFormats() {
    TStdProfile std;
    if (!std.LoadFromRes("STDFMTS")) {
      std::fprintf(stderr, "the built-in formats do not load\n");
      std::exit(1);
    }
    for (int c = 0; c < kCvtFmtTypeCount; ++c)
      for (const auto& f : std.GetFmtList(TCvtFmtType(c))) m_lists[c].push_back(*f);
  }
  // Starts every class at its first format again, so that a second pass
  // over the same lines meets the same formats.
  void Restart() { std::fill(std::begin(m_next), std::end(m_next), 0); }
  const TCvtFmt* CurCvtFmt(TCvtFmtType AClass, bool& AStd) override {
    AStd = true;
    const auto& list = m_lists[AClass];
    return &list[m_next[AClass]++ % list.size()];
  }

 private:
  std::vector<TCvtFmt> m_lists[kCvtFmtTypeCount];
  size_t m_next[kCvtFmtTypeCount] = {};
};

QByteArray Hex(std::mt19937& ARng, int ABytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  QByteArray s;
  for (int i = 0; i < 2 * ABytes; ++i) s += kDigits[ARng() % 16];
  return s;
}

// A mixed stream of reader lines, each ended by CR LF.
std::vector<QByteArray> MakeLines(int ACount) {
  std::mt19937 rng(12345);
  std::vector<QByteArray> lines;
  lines.reserve(ACount);
  for (int i = 0; i < ACount; ++i) {
    const QByteArray n = QByteArray::number(rng() % 65536);
    QByteArray line;
    switch (i % 12) {
      case 0: line = "Mifare[" + Hex(rng, 7) + "] (UL)"; break;
      case 1: line = "Mifare[" + Hex(rng, 4) + "] (1K)"; break;
      case 2: line = "Mifare[" + Hex(rng, 4) + "] (4K)"; break;
      case 3: line = "Mifare[" + Hex(rng, 7) + "] (7)"; break;
      case 4: line = "HID[" + Hex(rng, 4) + "] " + n; break;
      case 5: line = "Em-Marine[" + Hex(rng, 2) + "] " + QByteArray::number(rng() % 256) + "," + n; break;
      case 6: line = "COD433[" + Hex(rng, 1) + "] " + QByteArray::number(rng() % 256) + "," + n; break;
      case 7: line = "Dallas[" + Hex(rng, 8) + "]"; break;
      case 8: line = "iCode[" + Hex(rng, 8) + "]"; break;
      case 9: line = "[" + Hex(rng, 16) + "]"; break;
      case 10: line = "No Card"; break;
      default: line = "Unknown[" + Hex(rng, 4) + "]"; break;  // dropped: no default choice
    }
    lines.push_back(line + "\r\n");
  }
  return lines;
}

using Clock = std::chrono::steady_clock;

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 200000;
  if (count <= 0) {
    std::fprintf(stderr, "usage: bench_card_engine [lines > 0]\n");
    return 2;
  }
  const std::vector<QByteArray> lines = MakeLines(count);

  NullView view;
  SinkDelivery delivery;
  RotatingFormats formats;
  CardPipeline pipeline(view, delivery, formats);
  pipeline.SetTransMethod(tm_Clipboard);
  pipeline.SetTransLog(true);

  // Throughput: the stream in deliveries of 32 lines, as a busy port hands
  // them over.
  std::vector<QByteArray> chunks;
  for (size_t i = 0; i < lines.size(); i += 32) {
    QByteArray chunk;
    for (size_t j = i; j < std::min(lines.size(), i + 32); ++j) chunk += lines[j];
    chunks.push_back(chunk);
  }
  const auto t0 = Clock::now();
  for (const QByteArray& chunk : chunks) pipeline.PortReceive(chunk);
  const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  const long long deliveredStream = delivery.delivered;

  // Latency: every line in a delivery of its own.
  formats.Restart();
  std::vector<double> us;
  us.reserve(lines.size());
  for (const QByteArray& line : lines) {
    const auto a = Clock::now();
    pipeline.PortReceive(line);
    us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - a).count());
  }
  const BenchStats st = Summarise(us);

  std::printf("lines              %d (%lld converted and delivered)\n", count, deliveredStream);
  std::printf("stream             %.0f lines/s\n", count / seconds);
  std::printf("one line median    %.2f us\n", st.median);
  std::printf("one line p99       %.2f us\n", st.p99);
  std::printf("one line max       %.2f us\n", st.max);
  if (delivery.delivered != 2 * deliveredStream || view.chars == 0) {
    std::fprintf(stderr, "the two passes disagree\n");
    return 1;
  }
  return 0;
}
