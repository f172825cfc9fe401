// The key plan of a text: which keys, with which modifiers, in which order
// and with which pauses a text is typed on a US keyboard. Pure logic: the
// keys go to a sink and the pauses to a sleeper, so the plan is tested
// without a display and without real sleeping.
//
// Keys are named by X keysym numbers of the US layout's unshifted symbol
// ('a', '1', ';', Return...); the desktop layer finds the keycode for them.
#pragma once

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace UsKeys {
inline constexpr uint32_t BackSpace = 0xff08;
inline constexpr uint32_t Tab = 0xff09;
inline constexpr uint32_t Return = 0xff0d;
inline constexpr uint32_t Escape = 0xff1b;
inline constexpr uint32_t Delete = 0xffff;
inline constexpr uint32_t Shift = 0xffe1;    // Shift_L
inline constexpr uint32_t Control = 0xffe3;  // Control_L
inline constexpr uint32_t Alt = 0xffe9;      // Alt_L
}  // namespace UsKeys

// What one character needs on a US keyboard: the key and the modifiers held.
struct TUsKeyScan {
  uint32_t key = 0;
  bool shift = false;
  bool ctrl = false;
  bool alt = false;
};

// The key of a character on the US layout, for every code 0..127: printable
// characters by their key and Shift; CR Return, line feed Ctrl+Return, tab
// Tab, backspace BackSpace, escape Escape, 127 Delete; the other control
// codes Ctrl with the key that gives them (Ctrl+A is 1, Ctrl+Shift+2 is 0).
// Nothing for a character the US layout cannot type.
std::optional<TUsKeyScan> UsKeyScan(char16_t AChar);
// The symbol a key gives with Shift on the US layout (the key itself for
// keys without a second symbol).
uint32_t UsShiftedSymbol(uint32_t AKey);
// A letter key, whose case Caps Lock inverts.
inline bool IsLetterKey(uint32_t AKey) { return AKey >= 'a' && AKey <= 'z'; }

struct TKeyStep {
  enum Kind : uint8_t { Press, Release, Sleep };
  Kind kind;
  uint32_t value;  // the key, or the pause in milliseconds
  bool operator==(const TKeyStep&) const = default;
};

// The steps that type AText. Modifiers are pressed or released in the order
// Shift, Ctrl, Alt only when the next character needs another state, and
// those still held at the end are released in that order. Each key is
// pressed, held APressDelay ms, released, followed by AReleaseDelay ms (no
// pause step for a delay of 0). With ACapsLock the Shift of letters is
// inverted, so they come out in the case asked for. Characters the US
// layout cannot type are skipped; ATyped (optional) receives the rest.
std::vector<TKeyStep> MakeKeyPlan(const QString& AText, unsigned APressDelay,
                                  unsigned AReleaseDelay, bool ACapsLock,
                                  QString* ATyped = nullptr);

// The pause after the last key before the keyboard layout goes back: at
// least 300 ms pass between the last release and the end of the typing.
inline unsigned TailPauseMs(unsigned AReleaseDelay) {
  return AReleaseDelay < 300 ? 300 - AReleaseDelay : 0;
}

class TKeySink {
 public:
  virtual ~TKeySink() = default;
  virtual void PressKey(uint32_t AKey) = 0;
  virtual void ReleaseKey(uint32_t AKey) = 0;
};

class TSleeper {
 public:
  virtual ~TSleeper() = default;
  virtual void Sleep(unsigned AMs) = 0;
};

class TThreadSleeper final : public TSleeper {
 public:
  void Sleep(unsigned AMs) override;
};

void RunKeyPlan(const std::vector<TKeyStep>& APlan, TKeySink& ASink, TSleeper& ASleeper);
// Runs APlan, then the pause of TailPauseMs(AReleaseDelay), which is also
// kept when the typing fails half-way.
void TypePlan(const std::vector<TKeyStep>& APlan, unsigned AReleaseDelay, TKeySink& ASink,
              TSleeper& ASleeper);
