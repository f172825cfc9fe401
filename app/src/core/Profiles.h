// The vocabulary of cards and formats: card types as the reader names them,
// the six format classes, and one conversion format; the keyed lists that
// hold formats, and the profiles: the built-in standard formats and the
// user's own formats with the current format of every class.
//
// Profile files are INI files: one section per format named by the class word,
// a point and the decimal id ("MUL.3"; the word is written in upper case and
// read in any case), with the keys "name", "hint", "template", "replaces" in
// that order; a user profile adds a section "Main" with the current format of
// each class. The built-in formats use the same layout.
//
// Profile names become file names ("<profiles folder>/<name>.ini"). File
// names are case-sensitive here, so two profile names are the same profile
// only when they are equal character for character.
//
// Failures are results, never exceptions: an operation that could not read or
// write its file answers false and leaves the profile as it was, and the
// caller shows its message.
#pragma once

#include <QFile>
#include <QString>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

class TIniFile;

// The card type read from the reader (one byte).
enum TovkCardType : uint8_t {
  ovkc_Unk = 0,     // unknown
  ovkc_UL = 1,      // Mifare UltraLight
  ovkc_1K = 2,      // Mifare 1K
  ovkc_Hid = 3,     // HID
  ovkc_Em = 4,      // Em-Marine
  ovkc_Cod433 = 5,  // 433 MHz code
  ovkc_iCode = 6,   // iCode
  ovkc_Df = 7,      // Mifare DF
  ovkc_4K = 8,      // Mifare 4K
  ovkc_Ex = 9,      // Exclusive: a line of bare hexadecimal bytes in brackets
  ovkc_DS = 10,     // Dallas key
};

// The format class: one tab of the main window, one list in every profile.
enum TCvtFmtType : uint8_t {
  cft_MUL = 0,    // Mifare UltraLight, DESFire and Dallas
  cft_M1K = 1,    // Mifare 1K/4K
  cft_Hid = 2,    // HID
  cft_Emm = 3,    // Em-Marine and 433 MHz code
  cft_iCode = 4,  // iCode
  cft_Ex = 5,     // Exclusive
};
inline constexpr int kCvtFmtTypeCount = 6;

// The class that converts cards of a type; any value outside the table
// converts as Mifare UltraLight.
TCvtFmtType CardTypeToCvtFmtType(TovkCardType AType);
// The class word in files and on the command line: "MUL", "M1K", "HID",
// "EMM", "IC", "EX".
QString CvtFmtTypeName(TCvtFmtType AType);
// The number of card bytes a format of the class may address: MUL 7, M1K 4,
// HID 6, EMM 5, IC 8, EX 16; 0 for a value outside the classes. The format
// editor checks parameters against it, so every index must be below it.
int CvtFmtByteCount(TCvtFmtType AType);

// One conversion format, owned by the list that holds it.
struct TCvtFmt {
  uint32_t m_nFmtId = 0;  // unique within its class in one profile, 1 or more
  QString m_sName;        // never empty in a loaded profile
  QString m_sHint;        // free description, may hold line breaks
  QString m_sTemplate;    // escapes and format specifiers
  QString m_sReplaces;    // space-separated parameter tokens
};

// The line break a stored hint's "\n" stands for: this desktop's own, which
// is also what the program's text boxes give back.
inline constexpr char16_t kHintLineBreak = u'\n';
// A hint as stored in a file: "\" becomes "\\", each line break (CR LF, a lone
// CR or a lone LF) becomes "\n", so that the hint stays on one line.
QString EscapeHint(const QString& AHint);
// The reverse, left to right: "\\" gives "\", "\n" a line break, "\" and any
// other character give nothing, a "\" at the very end stays.
QString UnescapeHint(const QString& AText);

class TUIntKeyObjectList;
// Reads the key of an object of a keyed list.
using TGetUIntObjectKey = uint32_t (*)(const TCvtFmt& AObject, const TUIntKeyObjectList& AList);
// The key of a format in a profile's lists: its id.
uint32_t GetCvtFmtKey(const TCvtFmt& AObject, const TUIntKeyObjectList& AList);

// Formats kept in ascending order of an unsigned key, each key once. The list
// owns its formats: removing one frees it, and copies between lists are copies
// of the formats.
class TUIntKeyObjectList {
 public:
  using ObjectVector = std::vector<std::unique_ptr<TCvtFmt>>;

  explicit TUIntKeyObjectList(TGetUIntObjectKey AGetKey = GetCvtFmtKey);
  TUIntKeyObjectList(const TUIntKeyObjectList&) = delete;
  TUIntKeyObjectList& operator=(const TUIntKeyObjectList&) = delete;
  TUIntKeyObjectList(TUIntKeyObjectList&&) = default;
  TUIntKeyObjectList& operator=(TUIntKeyObjectList&&) = default;

  int Count() const { return static_cast<int>(m_List.size()); }
  // The format at an index (0 .. Count() - 1), or null outside.
  const TCvtFmt* Items(int AIdx) const;
  const ObjectVector& ObjectList() const { return m_List; }
  uint32_t KeyOf(const TCvtFmt& AObject) const { return FGetObjKey(AObject, *this); }

  // Puts the format at the place of its key and returns its index. A key that
  // is already in the list is refused: -1, and the format is freed.
  int Add(std::unique_ptr<TCvtFmt> AObject);
  bool Lookup(uint32_t AKey) const { return IndexOf(AKey) != -1; }
  // Index of the key, or -1.
  int IndexOf(uint32_t AKey) const;
  // The format of the key, or null.
  TCvtFmt* GetValue(uint32_t AKey) const;
  void Remove(uint32_t AKey);
  // Deletes the format at an index; an index outside the list does nothing.
  void Delete(int AIdx);
  void Clear() { m_List.clear(); }
  // Becomes a copy of AList, in AList's order.
  void Assign(const TUIntKeyObjectList& AList);
  // Takes the formats of AList and orders them by key; of several formats
  // with one key the first one stays.
  void SetList(ObjectVector AList);

  ObjectVector::const_iterator begin() const { return m_List.begin(); }
  ObjectVector::const_iterator end() const { return m_List.end(); }

 private:
  ObjectVector m_List;
  TGetUIntObjectKey FGetObjKey;
};

// The formats of one class in a profile, and the id the next new one gets.
struct TProfileItem {
  TUIntKeyObjectList List;
  uint32_t NextId = 1;
};

// The per-user folder of profiles ("<data folder>/profiles"); the data
// folder is created when ACreate, the "profiles" folder itself is not.
// Empty when the data folder is not known.
QString GetProfilesDir(bool ACreate);

// A set of formats per class, in memory and, while bound ("opened"), in its
// file: every single-format change is then written to the file at once.
class TProfile {
 public:
  TProfile() = default;
  virtual ~TProfile() = default;
  TProfile(const TProfile&) = delete;
  TProfile& operator=(const TProfile&) = delete;

  const QString& Path() const { return m_sPath; }
  bool Opened() const { return m_fOpened; }

  // Creates or empties the file and binds the emptied profile to it; false,
  // and nothing changed, when the file cannot be written.
  virtual bool New(const QString& AIniPath);
  // Loads the file and binds the profile to it; false, and nothing changed,
  // when the file does not exist or cannot be read.
  virtual bool Open(const QString& AIniPath);
  // Unbinds the profile; the formats stay in memory. With ADelete the file is
  // deleted too, and the result says whether that worked.
  virtual bool Close(bool ADelete);
  // Empties every class (and the file while bound); false, and nothing
  // changed, when the bound file cannot be emptied.
  virtual bool Clear();
  // Loads the program's built-in data named ARes ("STDFMTS"); false, and
  // nothing changed, when there is no such data. Binding stays as it is.
  bool LoadFromRes(const QString& ARes);
  // Loads a file without binding to it; false, and nothing changed, when the
  // file does not exist or cannot be read.
  bool LoadFromIni(const QString& AIniPath);
  // Copies the formats of another profile, numbered 1, 2, ... per class in
  // the order of their ids; memory only.
  void LoadFromProfile(const TProfile& AProfileCopy);
  // Writes the whole profile to a file (replacing what it held), each class's
  // formats as sections numbered 1, 2, ...; the formats in memory keep their
  // ids and the binding stays. False when the file cannot be written.
  virtual bool SaveToIni(const QString& AIniPath);

  // Adds a format with a fresh id; VFmt receives it. False, with nothing
  // added, when the bound file is gone or cannot be written.
  bool AddFmt(TCvtFmtType ATip, const QString& AName, const QString& AHint, const QString& ATempl,
              const QString& ARepl, const TCvtFmt*& VFmt);
  // Replaces the texts of a format (in the bound file first). False when the
  // class has no such id or the file cannot be written.
  bool UpdFmt(TCvtFmtType ATip, uint32_t AFmtId, const QString& AName, const QString& AHint,
              const QString& ATempl, const QString& ARepl);
  // Removes a format (from the bound file first). False when the class has no
  // such id or the file cannot be written.
  bool DelFmt(TCvtFmtType ATip, uint32_t AFmtId);
  bool FmtExists(TCvtFmtType ATip, uint32_t AFmtId) const;

  // The file name without folder and without its last extension.
  static QString ExtractProfileName(const QString& AIniPath);
  // "<profiles folder>/<AName>.ini", the folder created first when
  // ACanCreate. Empty for a name that cannot be a file name (empty, ".",
  // "..", holding "/" or a NUL) or when the folder is not known, so that
  // opening or creating it fails.
  static QString GetProfilePath(const QString& AName, bool ACanCreate);
  // Creates the file empty, or empties it; false when that failed.
  static bool ClearIni(const QString& AIniPath);

  // A class value outside the six classes stands for the first one.
  const TUIntKeyObjectList& GetFmtList(TCvtFmtType ATip) const { return Item(ATip).List; }
  uint32_t NextId(TCvtFmtType ATip) const { return Item(ATip).NextId; }

 protected:
  // Adds sections of a derived profile to a file that SaveToIni writes.
  virtual void SaveExtraSections(TIniFile& /*AIni*/) const {}
  static TCvtFmtType ValidTip(TCvtFmtType ATip) { return ATip < kCvtFmtTypeCount ? ATip : cft_MUL; }

 private:
  const TProfileItem& Item(TCvtFmtType ATip) const { return m_aItems[ValidTip(ATip)]; }
  TProfileItem& Item(TCvtFmtType ATip) { return m_aItems[ValidTip(ATip)]; }
  void ClearLists();
  void LoadFromIniFile(const TIniFile& AIni);

  std::array<TProfileItem, kCvtFmtTypeCount> m_aItems;
  QString m_sPath;
  bool m_fOpened = false;
};

// The built-in standard formats; never bound to a file.
class TStdProfile : public TProfile {};

// The current format of one class in a user profile.
struct TUsrProfileItem {
  QString m_sCurFmt;         // its name; empty: none
  bool m_fCurFmtStd = true;  // a standard format (else one of the profile's own)
};

// The user's own formats, and the current format of every class, which is
// kept in the file's "Main" section.
class TUsrProfile : public TProfile {
 public:
  // AStdProfile (not owned) answers for the standard formats.
  explicit TUsrProfile(const TStdProfile* AStdProfile);
  // Closes a bound profile, saving changed current formats.
  ~TUsrProfile() override;

  const QString& ProfileName() const { return m_sName; }

  bool New(const QString& AIniPath) override;
  // Also reads the current formats; values missing from the file stay.
  bool Open(const QString& AIniPath) override;
  // Without ADelete, changed current formats are written to the file first; a
  // failure of that write gives false, and the profile is unbound all the same.
  bool Close(bool ADelete) override;
  // Also forgets every current format and puts every class on own formats.
  bool Clear() override;

  void GetCurFmt(TCvtFmtType ATip, QString& VFmtName, bool& VStd) const;
  // Format names are compared ignoring case: a change of case alone is no change.
  void SetCurFmt(TCvtFmtType ATip, const QString& AFmtName, bool AStd);
  void SetCurFmtName(TCvtFmtType ATip, const QString& AFmtName);
  void SetCurFmtStd(TCvtFmtType ATip, bool AStd);
  const QString& GetCurFmtName(TCvtFmtType ATip) const { return UsrItem(ATip).m_sCurFmt; }
  bool GetCurFmtStd(TCvtFmtType ATip) const { return UsrItem(ATip).m_fCurFmtStd; }
  // The standard list of the class when its current format is a standard one,
  // else the profile's own list.
  const TUIntKeyObjectList& GetCurFmtList(TCvtFmtType ATip) const;
  const TUIntKeyObjectList& GetStdFmtList(TCvtFmtType ATip) const;

 protected:
  void SaveExtraSections(TIniFile& AIni) const override;

 private:
  const TUsrProfileItem& UsrItem(TCvtFmtType ATip) const { return m_aUsrItems[ValidTip(ATip)]; }
  TUsrProfileItem& UsrItem(TCvtFmtType ATip) { return m_aUsrItems[ValidTip(ATip)]; }
  void ReadMain(const QString& AIniPath);
  bool WriteMain(const QString& AIniPath) const;
  void WriteMainTo(TIniFile& AIni) const;

  QString m_sName;
  std::array<TUsrProfileItem, kCvtFmtTypeCount> m_aUsrItems;
  const TStdProfile* FStdProfile;
  bool m_fCurChg = false;  // raised by every change of a current format, never lowered
};

// A new, empty file in the temporary folder whose name begins with APrefix,
// open for reading and writing (created with mode 0600, so no other user can
// open it). isOpen() is false when it could not be made. With AutoDel (set
// from the start) the file is deleted when the stream goes.
class TTempFileStream : public QFile {
 public:
  explicit TTempFileStream(const QString& APrefix);
  ~TTempFileStream() override;

  bool AutoDel() const { return m_fAutoDel; }
  void SetAutoDel(bool AAutoDel) { m_fAutoDel = AAutoDel; }

 private:
  bool m_fAutoDel = true;
};
