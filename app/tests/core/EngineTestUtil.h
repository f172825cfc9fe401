// Helpers shared by the tests of the card road.
#pragma once

#include <QString>
#include <QStringList>

#include "CardEngine.h"

// "01 A2 ff" as card bytes; an empty text gives a card without bytes. The
// vector is sized exactly, so the sanitizer build catches any read past it.
inline CardBytes Bytes(const char* AHex) {
  CardBytes b;
  for (const QString& pair : QString(AHex).split(u' ', Qt::SkipEmptyParts))
    b.push_back(static_cast<uint8_t>(pair.toUInt(nullptr, 16)));
  b.shrink_to_fit();
  return b;
}

// Counts the beeps of "\a".
class CountingBeep : public ISystemBeep {
 public:
  void Beep() override { ++count; }
  int count = 0;
};
