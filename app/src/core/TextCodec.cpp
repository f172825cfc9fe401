#include "TextCodec.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace {

// Bytes 0x80..0xFF of Windows-1251. 0x98 has no character in the page; it is
// passed through as U+0098, as the system's own conversion does, so the byte
// is not silently turned into something else.
constexpr char16_t kWin1251High[128] = {
  0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
  0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
  0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
  0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
  0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
  0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
  0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
  0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
  0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,  // C0
  0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,  // C8
  0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,  // D0
  0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,  // D8
  0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,  // E0
  0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,  // E8
  0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,  // F0
  0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,  // F8
};

QString DecodeWith(QStringConverter::Encoding enc, QByteArrayView bytes, bool* error) {
  // The mark has been cut off already; a second one is text and must stay.
  QStringDecoder dec(enc, QStringConverter::Flag::ConvertInitialBom);
  QString s = dec.decode(bytes);
  if (error)
    *error = dec.hasError();
  return s;
}

}  // namespace

QString DecodeWindows1251(QByteArrayView bytes) {
  QString s;
  s.reserve(bytes.size());
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    s.append(b < 0x80 ? QChar(char16_t(b)) : QChar(kWin1251High[b - 0x80]));
  }
  return s;
}

DecodedText DecodeText(QByteArrayView bytes) {
  DecodedText r;
  if (bytes.startsWith("\xEF\xBB\xBF")) {
    r.bom = TextBom::Utf8;
    r.text = DecodeWith(QStringConverter::Utf8, bytes.sliced(3), nullptr);
  } else if (bytes.startsWith("\xFF\xFE")) {
    r.bom = TextBom::Utf16LE;
    r.text = DecodeWith(QStringConverter::Utf16LE, bytes.sliced(2), nullptr);
  } else if (bytes.startsWith("\xFE\xFF")) {
    r.bom = TextBom::Utf16BE;
    r.text = DecodeWith(QStringConverter::Utf16BE, bytes.sliced(2), nullptr);
  } else {
    bool bad = false;
    r.text = DecodeWith(QStringConverter::Utf8, bytes, &bad);
    if (bad) {
      r.text = DecodeWindows1251(bytes);
      r.windows1251 = true;
    }
  }
  return r;
}

QByteArray EncodeText(const QString& text, TextBom bom) {
  switch (bom) {
  case TextBom::None:
    if (!text.startsWith(QChar(0xFEFF))) return text.toUtf8();
    [[fallthrough]];
  case TextBom::Utf8:
    return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
  case TextBom::Utf16LE: {
    QStringEncoder enc(QStringConverter::Utf16LE);
    return QByteArray("\xFF\xFE") + QByteArray(enc.encode(text));
  }
  case TextBom::Utf16BE: {
    QStringEncoder enc(QStringConverter::Utf16BE);
    return QByteArray("\xFE\xFF") + QByteArray(enc.encode(text));
  }
  }
  return text.toUtf8();
}
