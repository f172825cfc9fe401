// The card road as the reader port feeds it: the input's first byte picks
// the standard format of every class, the second the default-format choice
// and the settings; the rest are the reader's bytes, handed over in two
// pieces as a port may deliver them.
#include <QByteArray>

#include <cstddef>
#include <cstdint>

#include "CardPipeline.h"
#include "FuzzCheck.h"

namespace {

class QuietView : public ICardView {
 public:
  void ShowPortText(const QString&) override {}
  void ShowCardBytes(const QStringList& ACells) override { FUZZ_CHECK(ACells.size() == 16); }
  void ShowCardType(const QString&) override {}
  void ShowLastFmt(const QString&) override {}
  void ShowTrans(const TransDisplay& AShown) override {
    for (const TransMark& m : AShown.marks) FUZZ_CHECK(m.start >= 0 && m.start + m.length <= AShown.text.size());
  }
  void ShowWindow(const QString&) override {}
  void ShowClassPage(TCvtFmtType AClass) override { FUZZ_CHECK(AClass < kCvtFmtTypeCount); }
};

class CountingDelivery : public ICardDelivery {
 public:
  QString TransferByKeyboard(const QString& AText, QString& AShown, QString* AWindow) override {
    Deliver(AText, AShown, AWindow);
    return QString();
  }
  void TransferByClipboard(const QString& AText, QString& AShown, QString* AWindow) override { Deliver(AText, AShown, AWindow); }
  void WriteLog(TovkCardType, bool, const QString&, const QString&, const QString&, const QString&) override {}
  int delivered = 0;

 private:
  void Deliver(const QString& AText, QString& AShown, QString* AWindow) {
    ++delivered;
    AShown = AText;
    if (AWindow) *AWindow = QStringLiteral("window");
  }
};

// The standard formats, the one at index APick (modulo the class's count)
// being current in every class.
class PickedFormats : public ICardFormats {
 public:
  PickedFormats(const TStdProfile& AStd, int APick) : m_std(AStd), m_pick(APick) {}
  const TCvtFmt* CurCvtFmt(TCvtFmtType AClass, bool& AStd) override {
    const TUIntKeyObjectList& list = m_std.GetFmtList(AClass);
    if (list.Count() == 0) return nullptr;
    AStd = true;
    return list.Items(m_pick % list.Count());
  }

 private:
  const TStdProfile& m_std;
  int m_pick;
};

const TStdProfile& StandardFormats() {
  static const TStdProfile* std = [] {
    auto* p = new TStdProfile;
    FUZZ_CHECK(p->LoadFromRes("STDFMTS"));
    return p;
  }();
  return *std;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  if (ASize < 2) return 0;
  QuietView view;
  CountingDelivery delivery;
  PickedFormats formats(StandardFormats(), AData[0]);
  CardPipeline road(view, delivery, formats);
  const uint8_t settings = AData[1];
  road.SetDefCmt(settings % 7);
  road.SetTransMethod((settings >> 3) & 1);
  road.SetShowTransFmtPar((settings >> 4) & 1);
  road.SetTransLog((settings >> 5) & 1);

  const QByteArray bytes(reinterpret_cast<const char*>(AData + 2), qsizetype(ASize - 2));
  const qsizetype cut = bytes.isEmpty() ? 0 : settings % (bytes.size() + 1);
  road.PortReceive(bytes.left(cut));
  road.PortReceive(bytes.mid(cut));

  // At most one card per line, and no line waits without bound.
  FUZZ_CHECK(delivery.delivered <= bytes.count('\r'));
  FUZZ_CHECK(road.PendingText().size() <= CardLineBuffer::kMaxPending);
  return 0;
}
