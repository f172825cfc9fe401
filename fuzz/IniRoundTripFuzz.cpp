// Any bytes read as an INI file, written back and read again: the file
// must mean the same (the same sections, keys and values, every character
// kept), its text must keep every line, and a second write changes nothing.
#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>

#include "FuzzCheck.h"
#include "IniFile.h"
#include "TextCodec.h"

namespace {

using Meaning = QList<QPair<QString, QList<TIniFile::KeyValue>>>;

Meaning MeaningOf(const TIniFile& AIni) {
  Meaning meaning;
  for (const QString& section : AIni.ReadSections()) meaning.append({section, AIni.ReadSectionValues(section)});
  return meaning;
}

// The lines of a text: ended by CR LF, CR or LF, or by the text's end.
QStringList LinesOf(const QString& AText) {
  QStringList lines;
  qsizetype start = 0;
  for (qsizetype i = 0; i < AText.size(); ++i) {
    if (AText[i] != u'\r' && AText[i] != u'\n') continue;
    lines << AText.mid(start, i - start);
    if (AText[i] == u'\r' && i + 1 < AText.size() && AText[i + 1] == u'\n') ++i;
    start = i + 1;
  }
  if (start < AText.size()) lines << AText.mid(start);
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  const QByteArray bytes(reinterpret_cast<const char*>(AData), qsizetype(ASize));
  const TIniFile first = TIniFile::FromBytes(bytes);
  const QByteArray written = first.ToBytes();
  const TIniFile again = TIniFile::FromBytes(written);
  FUZZ_CHECK(MeaningOf(again) == MeaningOf(first));
  FUZZ_CHECK(LinesOf(DecodeText(written).text) == LinesOf(DecodeText(bytes).text));
  FUZZ_CHECK(again.ToBytes() == written);
  return 0;
}
