#pragma once
// Bytes of a text file to QString and back, the way the program's INI and
// language files are stored: a byte-order mark is obeyed; without one, text
// that is valid UTF-8 is UTF-8 and anything else is the Windows-1251 code page
// (the 8-bit page the files were written in on their home system). Qt 6 ships
// no Windows-1251 codec, so the table lives here.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// The byte-order mark a file began with; it decides how the file is written back.
enum class TextBom { None, Utf8, Utf16LE, Utf16BE };

struct DecodedText {
  QString text;
  TextBom bom = TextBom::None;
  bool windows1251 = false;  // no mark and not valid UTF-8
};

DecodedText DecodeText(QByteArrayView bytes);

// With TextBom::None: UTF-8 without a mark, unless the text itself begins
// with U+FEFF, which a reader would take for a mark: then UTF-8 with a mark,
// so that DecodeText gives the text back. With a mark: the marked encoding,
// mark first, so a file keeps the encoding it came in.
QByteArray EncodeText(const QString& text, TextBom bom);

QString DecodeWindows1251(QByteArrayView bytes);
