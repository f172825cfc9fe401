// INI text held in memory: the one reader and writer behind the settings
// file, profiles, the built-in formats and language files.
//
// The rules are those the program's files have always been read by:
// - section and key names match ignoring case; the first matching section,
//   and the first matching key in it, win; later duplicates are kept in the
//   file but never read;
// - a value is trimmed of blanks and loses one pair of matching enclosing
//   double or single quotes; a key that is present with an empty value reads
//   as "", only a missing key gives the default;
// - lines before the first section, lines without "=" and lines beginning
//   with ";" are not keys; they are kept as they are when the file is written.
// A write changes the first matching key in place, else adds the key at the
// end of the first matching section, else adds the section at the end.
// Writing the file replaces it whole, through a temporary file and a rename,
// in the encoding it was read in: what is read back is what was read.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

#include "TextCodec.h"

class TIniFile {
 public:
  using KeyValue = QPair<QString, QString>;

  TIniFile() = default;
  // Reads AFileName whole; a file that does not exist (a link to one not
  // made yet included) reads as empty.
  explicit TIniFile(const QString& AFileName);
  // INI text already in memory (the built-in formats).
  static TIniFile FromBytes(QByteArrayView ABytes);

  const QString& FileName() const { return m_sFileName; }
  // The file existed but could not be read; the object is then empty.
  bool LoadFailed() const { return !m_sLoadError.isEmpty(); }
  const QString& LoadError() const { return m_sLoadError; }

  // The byte-order mark the file began with. The file is written back in
  // the encoding that mark names, mark first, so that every character read
  // (one UTF-8 cannot hold too) comes back; a file without one, and a new
  // file, is written as UTF-8.
  TextBom Bom() const { return m_bom; }

  // All section names in file order, duplicates included.
  QStringList ReadSections() const;
  bool SectionExists(const QString& ASection) const;
  // The keys of the first matching section in file order, each with its value
  // read as ReadString reads it.
  QList<KeyValue> ReadSectionValues(const QString& ASection) const;
  bool ValueExists(const QString& ASection, const QString& AKey) const;

  QString ReadString(const QString& ASection, const QString& AKey, const QString& ADefault) const;
  // Signed decimal, or "0x"/"0X" and up to eight hexadecimal digits; anything
  // else (and a number outside 32 bits) gives the default.
  int32_t ReadInteger(const QString& ASection, const QString& AKey, int32_t ADefault) const;
  // An integer, any non-zero value meaning true.
  bool ReadBool(const QString& ASection, const QString& AKey, bool ADefault) const;

  // A value the reader would change (blanks at either end, a pair of
  // enclosing quotes) is written inside double quotes, so it reads back as
  // written. A line break cannot be stored in a line: each CR LF, CR or LF of
  // the value is written as one blank (callers that keep multi-line texts
  // escape them first).
  void WriteString(const QString& ASection, const QString& AKey, const QString& AValue);
  void WriteInteger(const QString& ASection, const QString& AKey, int32_t AValue);
  void WriteBool(const QString& ASection, const QString& AKey, bool AValue);
  // Replaces the keys of the first matching section (made when missing) by
  // AValues, in their order.
  void WriteSection(const QString& ASection, const QList<KeyValue>& AValues);
  // Removes the first matching section with all its lines; nothing when absent.
  void EraseSection(const QString& ASection);
  void DeleteKey(const QString& ASection, const QString& AKey);
  void Clear();

  QByteArray ToBytes() const;
  // Writes the whole text to FileName() atomically. The folder must exist.
  // False with a reason in *AError when it failed; the old file then stands.
  bool UpdateFile(QString* AError = nullptr) const;

 private:
  struct Section {
    QString name;
    QString header;     // the header line as it stands
    QStringList lines;  // the lines after the header, as they stand
  };

  void Parse(const QString& AText);
  const Section* FindSection(const QString& ASection) const;
  Section* FindSection(const QString& ASection);
  Section& SectionForWrite(const QString& ASection);

  QString m_sFileName;
  QString m_sLoadError;
  QStringList m_preamble;  // lines before the first section
  std::vector<Section> m_sections;
  TextBom m_bom = TextBom::None;
  QString m_sLineEnd = QStringLiteral("\n");
};
