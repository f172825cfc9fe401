#include "IniFile.h"

#include <QFile>
#include <QFileInfo>

#include <cstdint>
#include <utility>

#include "AppUtils.h"

namespace {

bool IsBlank(QChar c) { return c == u' ' || c == u'\t'; }

QStringView TrimBlanks(QStringView s) {
  qsizetype b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.sliced(b, e - b);
}

bool SameName(QStringView a, QStringView b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

// The name of a section header line ("[name]" with blanks around), or a null
// view when the line is no header.
QStringView HeaderName(const QString& ALine) {
  QStringView t = TrimBlanks(ALine);
  if (!t.startsWith(u'[')) return {};
  t = t.sliced(1);
  const qsizetype close = t.indexOf(u']');
  QStringView name = TrimBlanks(close < 0 ? t : t.first(close));
  return name.isNull() ? QStringView(u"") : name;
}

// Splits a key line into its key and its raw value; false for comments,
// blank lines and lines without a key.
bool SplitKeyLine(const QString& ALine, QStringView* AKey, QStringView* AValue) {
  const QStringView t = TrimBlanks(ALine);
  if (t.isEmpty() || t.startsWith(u';')) return false;
  const qsizetype eq = ALine.indexOf(u'=');
  if (eq < 0) return false;
  const QStringView key = TrimBlanks(QStringView(ALine).first(eq));
  if (key.isEmpty()) return false;
  *AKey = key;
  *AValue = QStringView(ALine).sliced(eq + 1);
  return true;
}

bool EnclosedInQuotes(QStringView v) {
  return v.size() >= 2 && (v.front() == u'"' || v.front() == u'\'') && v.back() == v.front();
}

QString ValueAsRead(QStringView ARaw) {
  QStringView v = TrimBlanks(ARaw);
  if (EnclosedInQuotes(v)) v = v.sliced(1, v.size() - 2);
  return v.toString();
}

QString ValueAsWritten(const QString& AValue) {
  QString v = AValue;
  v.replace(QLatin1String("\r\n"), QLatin1String(" "));
  v.replace(u'\r', u' ');
  v.replace(u'\n', u' ');
  if (TrimBlanks(v).size() != v.size() || EnclosedInQuotes(v)) v = u'"' + v + u'"';
  return v;
}

// Index of the first line of ALines that holds AKey, or -1.
qsizetype FindKeyLine(const QStringList& ALines, QStringView AKey) {
  for (qsizetype i = 0; i < ALines.size(); ++i) {
    QStringView key, value;
    if (SplitKeyLine(ALines[i], &key, &value) && SameName(key, AKey)) return i;
  }
  return -1;
}

}  // namespace

TIniFile::TIniFile(const QString& AFileName) : m_sFileName(AFileName) {
  // A link to a file not made yet is a missing file too (the write makes
  // the file at its end), not one that cannot be read.
  if (!QFileInfo::exists(AFileName)) return;
  QFile f(AFileName);
  if (!f.open(QIODevice::ReadOnly)) {
    m_sLoadError = f.errorString();
    if (m_sLoadError.isEmpty()) m_sLoadError = QStringLiteral("cannot read the file");
    return;
  }
  const DecodedText text = DecodeText(f.readAll());
  m_bom = text.bom;
  Parse(text.text);
}

TIniFile TIniFile::FromBytes(QByteArrayView ABytes) {
  TIniFile ini;
  const DecodedText text = DecodeText(ABytes);
  ini.m_bom = text.bom;
  ini.Parse(text.text);
  return ini;
}

void TIniFile::Parse(const QString& AText) {
  // The file's own line ends are kept when it is written back.
  if (const qsizetype nl = AText.indexOf(u'\n'); nl > 0 && AText[nl - 1] == u'\r')
    m_sLineEnd = QStringLiteral("\r\n");
  else if (nl < 0 && AText.contains(u'\r'))
    m_sLineEnd = QStringLiteral("\r");

  QStringList* target = &m_preamble;
  qsizetype start = 0;
  const qsizetype n = AText.size();
  while (start < n) {
    qsizetype end = start;
    while (end < n && AText[end] != u'\r' && AText[end] != u'\n') ++end;
    const QString line = AText.mid(start, end - start);
    if (const QStringView name = HeaderName(line); !name.isNull()) {
      m_sections.push_back(Section{name.toString(), line, {}});
      target = &m_sections.back().lines;
    } else {
      target->append(line);
    }
    if (end < n && AText[end] == u'\r' && end + 1 < n && AText[end + 1] == u'\n') ++end;
    start = end + 1;
  }
}

const TIniFile::Section* TIniFile::FindSection(const QString& ASection) const {
  for (const Section& s : m_sections)
    if (SameName(s.name, ASection)) return &s;
  return nullptr;
}

TIniFile::Section* TIniFile::FindSection(const QString& ASection) {
  return const_cast<Section*>(std::as_const(*this).FindSection(ASection));
}

TIniFile::Section& TIniFile::SectionForWrite(const QString& ASection) {
  if (Section* s = FindSection(ASection)) return *s;
  m_sections.push_back(Section{ASection, u'[' + ASection + u']', {}});
  return m_sections.back();
}

QStringList TIniFile::ReadSections() const {
  QStringList names;
  for (const Section& s : m_sections) names.append(s.name);
  return names;
}

bool TIniFile::SectionExists(const QString& ASection) const { return FindSection(ASection) != nullptr; }

QList<TIniFile::KeyValue> TIniFile::ReadSectionValues(const QString& ASection) const {
  QList<KeyValue> values;
  if (const Section* s = FindSection(ASection)) {
    for (const QString& line : s->lines) {
      QStringView key, value;
      if (SplitKeyLine(line, &key, &value)) values.append({key.toString(), ValueAsRead(value)});
    }
  }
  return values;
}

bool TIniFile::ValueExists(const QString& ASection, const QString& AKey) const {
  const Section* s = FindSection(ASection);
  return s && FindKeyLine(s->lines, AKey) >= 0;
}

QString TIniFile::ReadString(const QString& ASection, const QString& AKey,
                             const QString& ADefault) const {
  const Section* s = FindSection(ASection);
  const qsizetype i = s ? FindKeyLine(s->lines, AKey) : -1;
  if (i < 0) return ADefault;
  QStringView key, value;
  SplitKeyLine(s->lines[i], &key, &value);
  return ValueAsRead(value);
}

int32_t TIniFile::ReadInteger(const QString& ASection, const QString& AKey, int32_t ADefault) const {
  const QString v = ReadString(ASection, AKey, QString());
  bool ok = false;
  if (v.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
    const QStringView digits = QStringView(v).sliced(2);
    // Eight digits fill the 32 bits; the value keeps its bit pattern.
    const uint32_t u = digits.size() <= 8 ? digits.toUInt(&ok, 16) : 0;
    return ok && !digits.startsWith(u'+') && !digits.startsWith(u'-') ? static_cast<int32_t>(u)
                                                                      : ADefault;
  }
  // Digits only after an optional sign: no blanks, no base prefixes.
  const qsizetype first = v.startsWith(u'-') || v.startsWith(u'+') ? 1 : 0;
  if (v.size() == first) return ADefault;
  for (qsizetype i = first; i < v.size(); ++i)
    if (v[i] < u'0' || v[i] > u'9') return ADefault;
  const qlonglong n = v.toLongLong(&ok, 10);
  return ok && n >= INT32_MIN && n <= INT32_MAX ? static_cast<int32_t>(n) : ADefault;
}

bool TIniFile::ReadBool(const QString& ASection, const QString& AKey, bool ADefault) const {
  return ReadInteger(ASection, AKey, ADefault ? 1 : 0) != 0;
}

void TIniFile::WriteString(const QString& ASection, const QString& AKey, const QString& AValue) {
  Section& s = SectionForWrite(ASection);
  const QString line = AKey + u'=' + ValueAsWritten(AValue);
  if (const qsizetype i = FindKeyLine(s.lines, AKey); i >= 0) {
    s.lines[i] = line;
    return;
  }
  // After the section's last non-blank line, so that blank lines separating
  // it from the next section stay where they are.
  qsizetype at = s.lines.size();
  while (at > 0 && TrimBlanks(s.lines[at - 1]).isEmpty()) --at;
  s.lines.insert(at, line);
}

void TIniFile::WriteInteger(const QString& ASection, const QString& AKey, int32_t AValue) {
  WriteString(ASection, AKey, QString::number(AValue));
}

void TIniFile::WriteBool(const QString& ASection, const QString& AKey, bool AValue) {
  WriteString(ASection, AKey, AValue ? QStringLiteral("1") : QStringLiteral("0"));
}

void TIniFile::WriteSection(const QString& ASection, const QList<KeyValue>& AValues) {
  Section& s = SectionForWrite(ASection);
  s.lines.clear();
  for (const KeyValue& kv : AValues) s.lines.append(kv.first + u'=' + ValueAsWritten(kv.second));
}

void TIniFile::EraseSection(const QString& ASection) {
  for (auto it = m_sections.begin(); it != m_sections.end(); ++it) {
    if (SameName(it->name, ASection)) {
      m_sections.erase(it);
      return;
    }
  }
}

void TIniFile::DeleteKey(const QString& ASection, const QString& AKey) {
  if (Section* s = FindSection(ASection))
    if (const qsizetype i = FindKeyLine(s->lines, AKey); i >= 0) s->lines.removeAt(i);
}

void TIniFile::Clear() {
  m_preamble.clear();
  m_sections.clear();
}

QByteArray TIniFile::ToBytes() const {
  QString text;
  auto add = [&](const QString& line) {
    text += line;
    text += m_sLineEnd;
  };
  for (const QString& line : m_preamble) add(line);
  for (const Section& s : m_sections) {
    add(s.header);
    for (const QString& line : s.lines) add(line);
  }
  return EncodeText(text, m_bom);
}

bool TIniFile::UpdateFile(QString* AError) const {
  return WriteFileAtomic(m_sFileName, ToBytes(), AError);
}
