// The card road from received bytes to delivery, display and log, driven
// with a fake window, a fake delivery and fake current formats.
#include <gtest/gtest.h>

#include <map>

#include "CardPipeline.h"
#include "common/QStringPrinter.h"
#include "EngineTestUtil.h"

namespace {

class FakeView : public ICardView {
 public:
  void ShowPortText(const QString& ALine) override { Note("port", port = ALine); }
  void ShowCardBytes(const QStringList& ACells) override { Note("bytes", (cells = ACells).join(' ')); }
  void ShowCardType(const QString& AName) override { Note("type", cardType = AName); }
  void ShowLastFmt(const QString& AText) override { Note("fmt", lastFmt = AText); }
  void ShowTrans(const TransDisplay& AShown) override {
    trans = AShown;
    Note("trans", AShown.text);
  }
  void ShowWindow(const QString& ATitle) override { Note("window", window = ATitle); }
  void ShowClassPage(TCvtFmtType AClass) override { Note("page", QString::number(AClass)); }

  QString port, cardType, lastFmt, window = "(old window)";
  QStringList cells;
  TransDisplay trans{"(old text)", {}};
  QStringList calls;  // "control: value", in order

 private:
  void Note(const char* AControl, const QString& AValue) { calls << QString(AControl) + ": " + AValue; }
};

struct LogLine {
  TovkCardType type;
  bool std;
  QString fmtName, shown, window;
  QString notTyped = {};  // empty: typed
  bool operator==(const LogLine&) const = default;
};

// What the fake delivery says when it types nothing.
const QString kNowhere = "[not typed: nowhere]";

class FakeDelivery : public ICardDelivery {
 public:
  QString TransferByKeyboard(const QString& AText, QString& AShown, QString* AWindow) override {
    sent << "keyboard: " + AText;
    if (target.isEmpty()) return kNowhere;  // nothing in front: nothing typed
    AShown = AText;
    if (AWindow) *AWindow = target;
    return QString();
  }
  void TransferByClipboard(const QString& AText, QString& AShown, QString* AWindow) override {
    sent << "clipboard: " + AText;
    AShown = AText;
    if (AWindow) *AWindow = "<clipboard>";
  }
  void WriteLog(TovkCardType ACardType, bool AStd, const QString& AFmtName, const QString& AShown,
                const QString& AWindow, const QString& ANotTyped) override {
    log.push_back({ACardType, AStd, AFmtName, AShown, AWindow, ANotTyped});
  }

  QString target = "Editor";
  QStringList sent;
  std::vector<LogLine> log;
};

class FakeFormats : public ICardFormats {
 public:
  const TCvtFmt* CurCvtFmt(TCvtFmtType AClass, bool& AStd) override {
    auto it = current.find(AClass);
    if (it == current.end()) return nullptr;
    AStd = it->second.second;
    return &it->second.first;
  }
  void Set(TCvtFmtType AClass, const char* AName, const char* ATemplate, const char* AReplaces, bool AStd) {
    current[AClass] = {TCvtFmt{1, AName, {}, ATemplate, AReplaces}, AStd};
  }
  std::map<TCvtFmtType, std::pair<TCvtFmt, bool>> current;
};

class CardPipelineTest : public ::testing::Test {
 protected:
  CardPipelineTest() {
    formats.Set(cft_M1K, "Sigma", "%.3U\\#44%.5U", "b2 w01", true);
    formats.Set(cft_Hid, "Gate", "%u\\r", "w54", false);
  }
  void Receive(const QByteArray& AData) { pipeline.PortReceive(AData); }

  FakeView view;
  FakeDelivery delivery;
  FakeFormats formats;
  CountingBeep beep;
  CardPipeline pipeline{view, delivery, formats, &beep};
};

TEST_F(CardPipelineTest, OneLineOneDeliveryOneLogLine) {
  pipeline.SetTransLog(true);
  Receive("Mifare[04A1B2C3] (1K)\r\n");
  // b2 = B2 is 178; w01 = A104 is 41220.
  EXPECT_EQ(delivery.sent, QStringList{"keyboard: 178,41220"});
  ASSERT_EQ(delivery.log.size(), 1u);
  EXPECT_EQ(delivery.log[0], (LogLine{ovkc_1K, true, "Sigma", "178#4441220", "Editor"}));
  EXPECT_EQ(view.port, "Mifare[04A1B2C3] (1K)");
  EXPECT_EQ(view.cells, (QStringList{"04", "A1", "B2", "C3", "", "", "", "", "", "", "", "", "", "", "", ""}));
  EXPECT_EQ(view.cardType, "Mifare 1K");
  EXPECT_EQ(view.lastFmt, "Sigma (standard)");
  EXPECT_EQ(view.trans.text, "178#4441220");
  EXPECT_EQ(view.trans.marks, (std::vector<TransMark>{{3, 3}}));
  EXPECT_EQ(view.window, "Editor");
  EXPECT_EQ(pipeline.LastFmt(), "Sigma");
  EXPECT_TRUE(pipeline.LastFmtStd());
  EXPECT_EQ(pipeline.LastCardType(), ovkc_1K);
  EXPECT_TRUE(pipeline.PendingText().isEmpty());

  // A custom format, and the class's tab brought to the front when asked.
  pipeline.SetShowTransFmtPar(true);
  view.calls.clear();
  Receive("HID[0A0B0C0D] 1234\r");
  EXPECT_EQ(view.calls, (QStringList{"port: HID[0A0B0C0D] 1234", "bytes: 0A 0B 0C 0D 04 D2          ",
                                     "type: HID", "page: 2", "fmt: Gate (custom)", "trans: 1234\\r",
                                     "window: Editor"}));
  EXPECT_EQ(delivery.log.back(), (LogLine{ovkc_Hid, false, "Gate", "1234\\r", "Editor"}));
}

TEST_F(CardPipelineTest, LinesSplitOverDeliveriesAndNoCardLines) {
  Receive("Mifare[04A1");
  EXPECT_TRUE(view.calls.isEmpty());
  Receive("B2C3] (1K)");
  EXPECT_TRUE(view.calls.isEmpty());
  Receive("\r");
  EXPECT_EQ(delivery.sent, QStringList{"keyboard: 178,41220"});

  view.calls.clear();
  Receive("\nNO CARD\r\n\r\n");
  EXPECT_EQ(view.calls, QStringList{"port: NO CARD"});
  EXPECT_EQ(delivery.sent.size(), 1);
}

TEST_F(CardPipelineTest, FailingLineIsConsumedAndTheNextConverts) {
  // The format of this class feeds an integer to "%s": the formatter fails.
  formats.Set(cft_MUL, "Broken", "%s", "b0", false);
  pipeline.SetTransLog(true);
  Receive("Mifare[0102] (UL)\rMifare[0G] (UL)\rHID[0A0B0C0D] 1234\r");
  EXPECT_EQ(delivery.sent, QStringList{"keyboard: 1234\r"});
  ASSERT_EQ(delivery.log.size(), 1u);
  EXPECT_EQ(delivery.log[0].type, ovkc_Hid);
  EXPECT_TRUE(view.calls.contains("port: Mifare[0G] (UL)"));
  EXPECT_TRUE(pipeline.PendingText().isEmpty());

  // The failed card left the sent text and the window as they were.
  view.calls.clear();
  Receive("Mifare[0102] (UL)\r");
  EXPECT_EQ(view.calls, (QStringList{"port: Mifare[0102] (UL)", "bytes: 01 02              ",
                                     "type: Mifare UltraLight", "fmt: Broken (custom)"}));
  EXPECT_EQ(view.trans.text, "1234\\r");
  EXPECT_EQ(view.window, "Editor");
  EXPECT_EQ(delivery.sent.size(), 1);
}

TEST_F(CardPipelineTest, FormatNotSet) {
  pipeline.SetTransLog(true);
  Receive("HID[0A0B0C0D] 1234\r");
  view.calls.clear();
  Receive("Em-Marine[0102A1B2C3] 161,45763\r");  // no Em-Marine format
  EXPECT_EQ(view.trans.text, "[format is not set]");
  EXPECT_TRUE(view.trans.marks.empty());
  EXPECT_EQ(view.calls.mid(3), (QStringList{"fmt: ", "trans: [format is not set]", "window: "}));
  EXPECT_EQ(delivery.sent.size(), 1);
  EXPECT_EQ(delivery.log.size(), 1u);
  // The last format is still the one of the HID card.
  EXPECT_EQ(pipeline.LastFmt(), "Gate");
  EXPECT_FALSE(pipeline.LastFmtStd());
  EXPECT_EQ(pipeline.LastCardType(), ovkc_Hid);
}

TEST_F(CardPipelineTest, ParameterErrorIsShownAndLoggedEmpty) {
  formats.Set(cft_M1K, "Wide", "%.2X%.2X", "b0 b4", true);
  pipeline.SetTransLog(true);
  Receive("Mifare[04A1B2C3] (1K)\r");  // 4 bytes: index 4 is refused
  EXPECT_TRUE(delivery.sent.isEmpty());
  EXPECT_EQ(view.trans.text, "[Error: syntax parameters (position 5)]");
  EXPECT_TRUE(view.trans.marks.empty());
  EXPECT_EQ(view.window, "");
  ASSERT_EQ(delivery.log.size(), 1u);
  EXPECT_EQ(delivery.log[0], (LogLine{ovkc_1K, true, "Wide", "", ""}));
}

// The caller's shown text and window title change only when the text got as
// far as a delivery: a parameter error shows its message and a formatter
// failure shows nothing new, and neither delivers anything. A text that
// reached the delivery but could not be typed is shown all the same, and
// the title's place says why.
TEST_F(CardPipelineTest, ConvertCardLeavesTheCallersTextsWhenNothingIsDelivered) {
  struct Case {
    const char* templ;
    const char* replaces;
    QString target;  // the window in front; empty: none
    bool formatterFails;
    QStringList sent;
    QString shown, window, trans;
    QString notTyped = {};
  };
  const QString oldShown = "(old shown)", oldWindow = "(old window)", oldTrans = "(old text)";
  const Case cases[] = {
      {"%.2X%.2X", "b0 b4", "Editor", false, {}, oldShown, oldWindow,
       "[Error: syntax parameters (position 5)]"},
      {"%d", "b0 b9", "Editor", false, {}, oldShown, oldWindow, "[Error: syntax parameters (position 5)]"},
      {"%s", "b0", "Editor", true, {}, oldShown, oldWindow, oldTrans},
      {"%d", "CT", "Editor", true, {}, oldShown, oldWindow, oldTrans},
      {"%u%", "b0", "Editor", true, {}, oldShown, oldWindow, oldTrans},  // a lone "%" at the end
      // Typed, and typed nowhere.
      {"%u", "b0", "Editor", false, {"keyboard: 4"}, "4", "Editor", "4"},
      {"%u\\#44", "b0", "", false, {"keyboard: 4,"}, "4#44", kNowhere, "4#44", kNowhere},
  };
  const CardBytes card = Bytes("04 A1 B2 C3");
  for (const Case& c : cases) {
    FakeDelivery d;
    d.target = c.target;
    CardPipeline p{view, d, formats};
    view.trans = {oldTrans, {}};
    view.calls.clear();
    QString shown = oldShown, window = oldWindow;
    if (c.formatterFails) {
      EXPECT_THROW(p.ConvertCard(c.templ, c.replaces, ovkc_1K, card, &shown, window), EFormatError)
          << c.templ;
    } else {
      EXPECT_EQ(p.ConvertCard(c.templ, c.replaces, ovkc_1K, card, &shown, window), c.notTyped) << c.templ;
    }
    EXPECT_EQ(d.sent, c.sent) << c.templ;
    EXPECT_EQ(shown, c.shown) << c.templ;
    EXPECT_EQ(window, c.window) << c.templ;
    EXPECT_EQ(view.trans.text, c.trans) << c.templ;
    EXPECT_TRUE(d.log.empty()) << c.templ;
    // The window title on the form is the caller's business.
    EXPECT_FALSE(view.calls.join('|').contains("window:")) << c.templ;
  }
}

// "DF" anywhere in a Mifare line, the card number included, makes a Mifare DF
// card when no "UL" or "1K" comes first; it converts with the class of
// UltraLight cards and shows its own type name.
TEST_F(CardPipelineTest, MifareDfLinesConvertWithTheUltraLightClass) {
  formats.Set(cft_MUL, "Pair", "%.2X%.2X %s", "b1 b0 CT", true);
  pipeline.SetTransLog(true);
  pipeline.SetShowTransFmtPar(true);
  struct Case {
    const char* line;
    QStringList bytes;
    QString sent;
  };
  const Case cases[] = {
      {"Mifare[04DF1234]\r", {"04", "DF", "12", "34"}, "DF04 Mifare DF"},
      {"MIFARE[0102DF] (7)\r\n", {"01", "02", "DF"}, "0201 Mifare DF"},  // "DF" before the "(" rule
      {"Mifare[DF00] (4K)\r", {"DF", "00"}, "00DF Mifare DF"},            // "DF" is looked for before "4K"
  };
  for (const Case& c : cases) {
    view.calls.clear();
    delivery.sent.clear();
    delivery.log.clear();
    Receive(c.line);
    EXPECT_EQ(delivery.sent, QStringList{"keyboard: " + c.sent}) << c.line;
    QStringList cells = c.bytes;
    while (cells.size() < 16) cells << QString();
    EXPECT_EQ(view.calls.mid(1), (QStringList{"bytes: " + cells.join(' '), "type: Mifare DF", "page: 0",
                                              "fmt: Pair (standard)", "trans: " + c.sent, "window: Editor"}))
        << c.line;
    ASSERT_EQ(delivery.log.size(), 1u) << c.line;
    EXPECT_EQ(delivery.log[0], (LogLine{ovkc_Df, true, "Pair", c.sent, "Editor"})) << c.line;
    EXPECT_EQ(pipeline.LastCardType(), ovkc_Df) << c.line;
  }
}

TEST_F(CardPipelineTest, TransferMethods) {
  struct Case {
    int method;
    QString target;
    QStringList sent;
    QString shown, window;
    QString notTyped = {};
  };
  const Case cases[] = {
      {tm_Keyboard, "Editor", {"keyboard: 1234\r"}, "1234\\r", "Editor"},
      // Nothing in front: the text is shown and logged as not typed, and why.
      {tm_Keyboard, "", {"keyboard: 1234\r"}, "1234\\r", kNowhere, kNowhere},
      {tm_Clipboard, "Editor", {"clipboard: 1234\r"}, "1234\\r", "<clipboard>"},
      {7, "Editor", {}, "", ""},
  };
  for (const Case& c : cases) {
    FakeDelivery d;
    d.target = c.target;
    CardPipeline p{view, d, formats};
    p.SetTransMethod(c.method);
    p.SetTransLog(true);
    p.PortReceive("HID[0A0B0C0D] 1234\r");
    EXPECT_EQ(d.sent, c.sent) << c.method;
    EXPECT_EQ(view.trans.text, c.shown) << c.method;
    EXPECT_EQ(view.window, c.window) << c.method;
    ASSERT_EQ(d.log.size(), 1u);
    EXPECT_EQ(d.log[0].shown, c.shown) << c.method;
    EXPECT_EQ(d.log[0].window, c.window) << c.method;
    EXPECT_EQ(d.log[0].notTyped, c.notTyped) << c.method;
  }
}

TEST_F(CardPipelineTest, BeepAndCurrentFormatLookup) {
  formats.Set(cft_Ex, "Beeper", "\\a%.2X", "b0", false);
  Receive("[0102]\r");
  EXPECT_EQ(delivery.sent, QStringList{"keyboard: 02"});
  EXPECT_EQ(beep.count, 1);

  bool std = true;
  EXPECT_EQ(pipeline.GetCurCvtFmt(cft_Emm, &std), nullptr);
  EXPECT_TRUE(std);  // left alone when there is no format
  EXPECT_EQ(pipeline.GetCurCvtFmt(TCvtFmtType(6), &std), nullptr);
  ASSERT_NE(pipeline.GetCurCvtFmt(cft_Hid, &std), nullptr);
  EXPECT_FALSE(std);
  EXPECT_EQ(pipeline.GetCurCvtFmt(cft_M1K, nullptr)->m_sName, "Sigma");
}

TEST(TransDisplay, Marks) {
  struct Case {
    QString text;
    QString shown;
    std::vector<TransMark> marks;
  };
  const Case cases[] = {
      {"123,45\r", "123#4445\\r", {{3, 3}, {8, 2}}},
      {"", "", {}},
      {"a b", "a b", {}},
      {"\b\t\n", "\\b\\t\\n", {{0, 2}, {2, 2}, {4, 2}}},
      {QString(QChar(0)) + ".", "#0#46", {{0, 2}, {2, 3}}},
      {QString::fromUtf8("Жё7٣"), QString::fromUtf8("Жё7٣"), {}},  // letters and digits of any script
      {QString::fromUtf8("€"), "#172", {{0, 4}}},                   // low 8 bits of 0x20AC
      {"\f", "#12", {{0, 3}}},
  };
  for (const Case& c : cases) {
    const TransDisplay d = MakeTransDisplay(c.text);
    EXPECT_EQ(d.text, c.shown) << c.shown.toStdString();
    EXPECT_EQ(d.marks, c.marks) << c.shown.toStdString();
  }
}

}  // namespace
