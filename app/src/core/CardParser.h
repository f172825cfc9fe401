// The reader's text as cards: cutting the received bytes into lines, and
// telling from one line the card type and the card bytes.
//
// The reader sends one line per card, ended by CR (an LF after it is
// tolerated): a word naming the card kind, the card number as hexadecimal
// pairs in square brackets, sometimes decimal numbers after them. Lines that
// begin with "No Card" say that no card is present.
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

#include "CardEngine.h"
#include "Profiles.h"

// The items of the default-format choice: what an unrecognised line (or a
// Mifare line whose kind stays open) is taken for.
enum : int {
  kDefCmtNone = 0,  // "none": such a line is dropped
  kDefCmtMUL = 1,   // "Mifare UL,DF"
  kDefCmtM1K = 2,   // "Mifare 1K/4K"
  kDefCmtHid = 3,   // "HID"
  kDefCmtEmm = 4,   // "Em-Marine"
  kDefCmtIC = 5,    // "iCode"
  kDefCmtEx = 6,    // "Exclusive"
};

struct ParsedCard {
  TovkCardType type = ovkc_Unk;
  CardBytes bytes;
};

// The card of one line (already cut and stripped), or nothing when the line
// fits no rule or a number in it does not convert. ADefCmt is the item of
// the default-format choice.
std::optional<ParsedCard> ParseCardText(const QString& ALine, int ADefCmt);

// True for a line that begins with "No Card" in any letter case.
bool IsNoCardLine(const QString& ALine);

// Received text not yet cut into lines. Lines end at CR; an LF right after
// the CR goes with it, and LFs at either end of a line are stripped.
class CardLineBuffer {
 public:
  // The most text kept waiting for its CR. A reader that never sends one
  // must not make the buffer grow without bound: beyond this the oldest
  // text is dropped.
  static constexpr int kMaxPending = 4096;

  // Appends received bytes (the reader's 8-bit text, read as Latin-1).
  void Append(const QByteArray& AData);
  // Cuts off the next complete line into ALine (possibly empty). False when
  // no complete line is left; the waiting text is then capped.
  bool TakeLine(QString& ALine);
  // The text after the last CR.
  QString Pending() const { return m_sBuf.mid(m_nPos); }

 private:
  QString m_sBuf;
  int m_nPos = 0;  // start of the text not yet cut
};
