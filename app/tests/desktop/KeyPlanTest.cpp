// The key plan of a text: keys, modifiers, their order and the pauses.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "KeyPlan.h"

namespace {

// Records keys and pauses as one trace: "+S" press Shift, "-a" release a,
// "~100" a pause of 100 ms. Nothing really sleeps.
class Trace final : public TKeySink, public TSleeper {
 public:
  void PressKey(uint32_t AKey) override { Add('+', AKey); }
  void ReleaseKey(uint32_t AKey) override { Add('-', AKey); }
  void Sleep(unsigned AMs) override { steps.push_back("~" + std::to_string(AMs)); }
  std::string Text() const {
    std::string s;
    for (const auto& step : steps) s += (s.empty() ? "" : " ") + step;
    return s;
  }
  std::vector<std::string> steps;

 private:
  void Add(char ASign, uint32_t AKey) {
    std::string name;
    switch (AKey) {
      case UsKeys::Shift: name = "S"; break;
      case UsKeys::Control: name = "C"; break;
      case UsKeys::Alt: name = "A"; break;
      case UsKeys::Return: name = "Ret"; break;
      case UsKeys::Tab: name = "Tab"; break;
      case UsKeys::BackSpace: name = "BS"; break;
      case UsKeys::Escape: name = "Esc"; break;
      case UsKeys::Delete: name = "Del"; break;
      default: name = std::string(1, static_cast<char>(AKey));
    }
    steps.push_back(ASign + name);
  }
};

std::string Typed(const QString& AText, unsigned APress = 0, unsigned ARelease = 0,
                  bool ACaps = false) {
  Trace trace;
  RunKeyPlan(MakeKeyPlan(AText, APress, ARelease, ACaps), trace, trace);
  return trace.Text();
}

TEST(KeyPlan, ModifiersChangeOnlyWhenTheNextCharacterNeedsIt) {
  struct Case {
    const char* text;
    const char* trace;
  } cases[] = {
      {"AB", "+S +a -a +b -b -S"},
      {"aB", "+a -a +S +b -b -S"},
      {"Ab", "+S +a -a -S +b -b"},
      {"\n", "+C +Ret -Ret -C"},
      {"\r", "+Ret -Ret"},
      {"1\t2", "+1 -1 +Tab -Tab +2 -2"},
      {"\b\x1b\x7f", "+BS -BS +Esc -Esc +Del -Del"},
      {"A\n", "+S +a -a -S +C +Ret -Ret -C"},
      {"{\x01", "+S +[ -[ -S +C +a -a -C"},
      {"~\x1e", "+S +` -` +C +6 -6 -S -C"},  // Shift stays held into Ctrl+Shift+6
      {"0F:\"", "+0 -0 +S +f -f +; -; +' -' -S"},
  };
  for (const auto& c : cases) EXPECT_EQ(Typed(c.text), c.trace) << c.text;
}

TEST(KeyPlan, EveryAsciiCodeHasAKeyAndNothingElseHas) {
  for (int code = 0; code < 128; ++code) EXPECT_TRUE(UsKeyScan(char16_t(code))) << code;
  for (char16_t c : {u'ф', u'é', u'€', u'\x80', u'\xA0'}) EXPECT_FALSE(UsKeyScan(c));
  // Shifted symbols sit on the key their plan names.
  for (char c : std::string("~!@#$%^&*()_+{}|:\"<>?ABCZ")) {
    auto k = UsKeyScan(char16_t(c));
    ASSERT_TRUE(k && k->shift) << c;
    EXPECT_EQ(UsShiftedSymbol(k->key), uint32_t(static_cast<unsigned char>(c))) << c;
  }
}

TEST(KeyPlan, PressAndReleaseDelaysAndTheTailPause) {
  EXPECT_EQ(Typed("a1", 20, 100), "+a ~20 -a ~100 +1 ~20 -1 ~100");
  // At least 300 ms between the last release and the end of the typing.
  struct Case {
    unsigned release;
    const char* trace;
  } cases[] = {
      {0, "+S +a -a -S ~300"},
      {100, "+S +a ~100 -a ~100 -S ~200"},
      {300, "+S +a ~100 -a ~300 -S"},
      {1000, "+S +a ~100 -a ~1000 -S"},
  };
  for (const auto& c : cases) {
    Trace trace;
    const unsigned press = c.release ? 100 : 0;
    TypePlan(MakeKeyPlan("A", press, c.release, false), c.release, trace, trace);
    EXPECT_EQ(trace.Text(), c.trace) << c.release;
  }
}

TEST(KeyPlan, TailPauseIsKeptWhenTypingFails) {
  struct Failing final : TKeySink {
    void PressKey(uint32_t) override { throw std::runtime_error("display gone"); }
    void ReleaseKey(uint32_t) override {}
  } sink;
  Trace sleeps;
  EXPECT_THROW(TypePlan(MakeKeyPlan("1", 0, 0, false), 0, sink, sleeps), std::runtime_error);
  EXPECT_EQ(sleeps.Text(), "~300");
}

TEST(KeyPlan, CharactersWithoutAKeyAreSkipped) {
  QString typed;
  Trace trace;
  RunKeyPlan(MakeKeyPlan(QStringLiteral("1ф2€A"), 0, 0, false, &typed), trace, trace);
  EXPECT_EQ(trace.Text(), "+1 -1 +2 -2 +S +a -a -S");
  EXPECT_EQ(typed, "12A");
  EXPECT_EQ(Typed(QStringLiteral("фы")), "");
}

TEST(KeyPlan, CapsLockInvertsShiftForLettersOnly) {
  EXPECT_EQ(Typed("Ab1!", 0, 0, true), "+a -a +S +b -b -S +1 -1 +S +1 -1 -S");
  EXPECT_EQ(Typed("AB", 0, 0, true), "+a -a +b -b");
}

}  // namespace
