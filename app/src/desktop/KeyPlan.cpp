#include "KeyPlan.h"

#include <chrono>
#include <cstring>
#include <thread>

namespace {

// The shifted symbols of the US keys and the key under each.
constexpr char kShifted[] = "~!@#$%^&*()_+{}|:\"<>?";
constexpr char kShiftedBase[] = "`1234567890-=[]\\;',./";
static_assert(sizeof kShifted == sizeof kShiftedBase);

TUsKeyScan Key(uint32_t AKey, bool AShift = false, bool ACtrl = false) {
  TUsKeyScan k;
  k.key = AKey;
  k.shift = AShift;
  k.ctrl = ACtrl;
  return k;
}

// One key: pressed, held APressDelay ms, released, then AReleaseDelay ms.
void TypeKey(std::vector<TKeyStep>& APlan, uint32_t AKey, unsigned APressDelay,
             unsigned AReleaseDelay) {
  APlan.push_back({TKeyStep::Press, AKey});
  if (APressDelay > 0) APlan.push_back({TKeyStep::Sleep, APressDelay});
  APlan.push_back({TKeyStep::Release, AKey});
  if (AReleaseDelay > 0) APlan.push_back({TKeyStep::Sleep, AReleaseDelay});
}

}  // namespace

std::optional<TUsKeyScan> UsKeyScan(char16_t AChar) {
  const char16_t c = AChar;
  switch (c) {
    case 0: return Key('2', true, true);
    case 8: return Key(UsKeys::BackSpace);
    case 9: return Key(UsKeys::Tab);
    case 10: return Key(UsKeys::Return, false, true);
    case 13: return Key(UsKeys::Return);
    case 27: return Key(UsKeys::Escape);
    case 28: return Key('\\', false, true);
    case 29: return Key(']', false, true);
    case 30: return Key('6', true, true);
    case 31: return Key('-', true, true);
    case 127: return Key(UsKeys::Delete);
    default: break;
  }
  if (c >= 1 && c <= 26) return Key('a' + c - 1, false, true);
  if (c >= 'a' && c <= 'z') return Key(c);
  if (c >= 'A' && c <= 'Z') return Key(c - 'A' + 'a', true);
  if (c == ' ' || (c >= '0' && c <= '9')) return Key(c);
  if (c > 32 && c < 127) {
    const char ch = static_cast<char>(c);
    if (const char* p = std::strchr(kShifted, ch)) return Key(kShiftedBase[p - kShifted], true);
    if (std::strchr(kShiftedBase, ch)) return Key(c);
  }
  return std::nullopt;
}

uint32_t UsShiftedSymbol(uint32_t AKey) {
  if (IsLetterKey(AKey)) return AKey - 'a' + 'A';
  if (AKey > 32 && AKey < 127) {
    if (const char* p = std::strchr(kShiftedBase, static_cast<char>(AKey)))
      return static_cast<unsigned char>(kShifted[p - kShiftedBase]);
  }
  return AKey;
}

std::vector<TKeyStep> MakeKeyPlan(const QString& AText, unsigned APressDelay,
                                  unsigned AReleaseDelay, bool ACapsLock, QString* ATyped) {
  static constexpr uint32_t kModifiers[3] = {UsKeys::Shift, UsKeys::Control, UsKeys::Alt};
  std::vector<TKeyStep> plan;
  bool held[3] = {false, false, false};
  QString typed;
  for (QChar ch : AText) {
    auto scan = UsKeyScan(ch.unicode());
    // A character without a key is left out: the Windows way of typing it
    // (every modifier with a key that does not exist) can fire shortcuts.
    if (!scan) continue;
    typed += ch;
    bool shift = scan->shift;
    if (ACapsLock && IsLetterKey(scan->key)) shift = !shift;
    const bool need[3] = {shift, scan->ctrl, scan->alt};
    for (int m = 0; m < 3; ++m) {
      if (need[m] == held[m]) continue;
      plan.push_back({need[m] ? TKeyStep::Press : TKeyStep::Release, kModifiers[m]});
      held[m] = need[m];
    }
    TypeKey(plan, scan->key, APressDelay, AReleaseDelay);
  }
  for (int m = 0; m < 3; ++m)
    if (held[m]) plan.push_back({TKeyStep::Release, kModifiers[m]});
  if (ATyped) *ATyped = typed;
  return plan;
}

void TThreadSleeper::Sleep(unsigned AMs) {
  std::this_thread::sleep_for(std::chrono::milliseconds(AMs));
}

void RunKeyPlan(const std::vector<TKeyStep>& APlan, TKeySink& ASink, TSleeper& ASleeper) {
  for (const TKeyStep& step : APlan) {
    switch (step.kind) {
      case TKeyStep::Press: ASink.PressKey(step.value); break;
      case TKeyStep::Release: ASink.ReleaseKey(step.value); break;
      case TKeyStep::Sleep: ASleeper.Sleep(step.value); break;
    }
  }
}

void TypePlan(const std::vector<TKeyStep>& APlan, unsigned AReleaseDelay, TKeySink& ASink,
              TSleeper& ASleeper) {
  struct Pause {
    TSleeper& sleeper;
    unsigned ms;
    ~Pause() {
      if (ms > 0) sleeper.Sleep(ms);
    }
  } pause{ASleeper, TailPauseMs(AReleaseDelay)};
  RunKeyPlan(APlan, ASink, ASleeper);
}
