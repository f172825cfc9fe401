// The format editor's check: a template and a parameter string for a
// class, accepted when the parameters read without error and give one
// argument per "%" of the template. Input: a class digit, a line feed, the
// template, a line feed, the parameters.
//
// Kept: an error's position lies inside the parameters as typed (the editor
// puts the caret there); a format the editor accepts converts a card of its
// class without a parameter error (the formatter may still refuse the
// template, which the card road reports); and no input crashes the
// conversion.
#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

#include "CardEngine.h"
#include "FmtArgs.h"
#include "FuzzCheck.h"
#include "Profiles.h"

namespace {

// A card of each class as the reader names it.
constexpr TovkCardType kCardOf[kCvtFmtTypeCount] = {ovkc_UL, ovkc_1K, ovkc_Hid, ovkc_Em, ovkc_iCode, ovkc_Ex};

int LeadingBlanks(const QString& AText) {
  int n = 0;
  while (n < AText.size() && AText[n].unicode() <= ' ') ++n;
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  const QByteArray input(reinterpret_cast<const char*>(AData), qsizetype(ASize));
  const QList<QByteArray> parts = input.split('\n');
  if (parts.size() < 3 || parts[0].isEmpty()) return 0;
  const auto tip = TCvtFmtType(uint8_t(parts[0][0]) % kCvtFmtTypeCount);
  const QString templ = QString::fromUtf8(parts[1]);
  const QString repl = QString::fromUtf8(parts[2]);

  int specifiers = 0, pos = 0, tokens = 0;
  CheckTemplate(templ, &specifiers);
  const int err = CheckReplaces(repl, CvtFmtByteCount(tip), &pos, &tokens);
  if (err != 0) {
    const int caret = LeadingBlanks(repl) + pos - 1;
    FUZZ_CHECK(caret >= 0 && caret <= repl.size());
  }

  CardBytes card(size_t(CvtFmtByteCount(tip)));
  for (size_t i = 0; i < card.size(); ++i) card[i] = uint8_t(0x5A ^ (i * 37) ^ ASize);
  QString text;
  int errPos = 0;
  try {
    const int result = CardToText(templ, repl, kCardOf[tip], card, nullptr, text, errPos);
    if (err == 0 && tokens == specifiers) FUZZ_CHECK(result == 0);
    FUZZ_CHECK(result == 0 || result == err);
  } catch (const EFormatError&) {
    // the formatter refused the template: reported by the card road
  }
  return 0;
}
