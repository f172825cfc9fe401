// Small routines shared by the units of the program: folders, a scanf-like
// reader of short texts, bit and character-set helpers, autostart, the
// program's version, temporary files, a wildcard matcher, a token splitter.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <stdexcept>
#include <variant>
#include <vector>

// A malformed number where one is required (HexToInt, ScanFormat's numbers).
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The program's name in folder names and in the autostart entry.
inline constexpr char kAppName[] = "Sorvex";

// The folder of the running program, without a trailing slash.
QString GetAppDir();
// The running program's own path.
QString GetAppExePath();

inline constexpr int CSIDL_APPDATA = 26;         // per-user settings
inline constexpr int CSIDL_COMMON_APPDATA = 35;  // for all users
// The base folder of a kind; empty when it cannot be found.
QString GetSpecialFolderPath(int ACsidl);
// The program's data folder ("<base>/Sorvex"), created with its parents when
// ACreate; empty when not even the user's home is known.
QString GetAppDataDir(bool ACreate, bool ACommon = false);

// Replaces the file APath by ABytes as a whole: written to a temporary file
// beside it, flushed to disk, then renamed over it, so that a failure or a
// crash leaves the old file as it was. Symbolic links are followed to the
// end of their chain, and the file there is replaced (the links stay); an
// existing file keeps its permissions. The folder must exist. False with the
// reason in *AError when it failed; no temporary file is left behind.
bool WriteFileAtomic(const QString& APath, const QByteArray& ABytes, QString* AError = nullptr);

// Creates an empty file with a unique name that begins with APrefix in the
// temporary folder; its full name, or empty on failure.
QString MakeTempFileName(const QString& APrefix);

inline int GetBit(uint32_t AValue, int ABit) { return (AValue >> ABit) & 1u; }
inline void SetBit(uint32_t& AValue, int ABit, bool AOn) {
  if (AOn)
    AValue |= 1u << ABit;
  else
    AValue &= ~(1u << ABit);
}

// 1-based position of the first character at or after AStart that is (or is
// not) in ASet; 0 when there is none. Characters above 255 are in no set.
int FindCharOf(const QString& ASet, const QString& AText, int AStart);
int FindCharNotOf(const QString& ASet, const QString& AText, int AStart);

// AText as a hexadecimal number of 32 bits; throws EConvertError when it is
// empty or not hexadecimal.
int32_t HexToInt(const QString& AText);

// One destination of ScanFormat: "%d" and "%x" store an int32_t, "%f" a
// long double, "%s" a QString. A conversion meeting a destination of
// another kind ends the scan.
using ScanDest = std::variant<int32_t*, long double*, QString*>;
// Reads fields of AText as AFormat says; the number of fields stored.
// Throws EConvertError on a malformed number.
int ScanFormat(const QString& AText, const QString& AFormat, const std::vector<ScanDest>& ADest);

// The text from APos (1-based) to the next ADelim; APos then points past the
// delimiter, or is 0 at the end of the text.
QString NextToken(const QString& AText, QChar ADelim, int& APos);

// AText against a mask of "*" and "?": a prefix match, "*" jumping to the
// first occurrence of the next mask character without backtracking, letters
// compared ignoring ASCII case.
bool WildcardMatch(const QString& AMask, const QString& AText);

// Four version parts in one word, byte 0 the major part; each part keeps its
// low 8 bits.
uint32_t MakeFileVersion(int AMajor, int AMinor, int ARelease, int ABuild);
// The version of a file: the program's own for the running program, 0 for
// any other file (nothing else carries one).
uint32_t GetFileVersion(const QString& AFileName);
QString GetFileVersionStr(const QString& AFileName);
// "%d.%d.%d.%d" of the four bytes, byte 0 first.
QString FileVersionText(uint32_t AVersion);

// Autostart at logon: the per-user autostart entry of the desktop.
QString AutorunFilePath();
// The entry that starts AProgram hidden in the tray.
QString AutorunEntryText(const QString& AProgram);
// Written (atomically) or removed; false when that failed.
bool SetAutorun(bool AOn);
bool GetAutorun();

// Appends AText as UTF-16 little-endian (no byte-order mark) to AFileName,
// creating the file but not its folder. The text goes in with one write
// under an exclusive lock at the end of the file, so concurrent writers and
// readers always see it whole. It goes in whole or not at all: what a full
// disk let in of it is cut back. A file that a tear left at an odd length,
// or in the middle of a line, is mended first (the stray byte goes, a line
// end comes first). False, with the system's reason in *AError, when the
// text could not be appended.
bool AppendTextToFile(const QString& AText, const QString& AFileName, QString* AError = nullptr);

// A general command-line parser: the switches "Autorun" and "Unregister"
// (after "-" or "/", any letter case) and the first plain parameter.
// Programs add their own switches by overriding ParseParam.
class TCommandLineInfo {
 public:
  virtual ~TCommandLineInfo() = default;

  // The parameters without the program's own name.
  void ParseCommandLine(const QStringList& AParams);

  bool m_fAutorun = false;     // start hidden in the tray
  bool m_fUnregister = false;  // recorded; nothing reacts to it
  QString m_sFileName;         // the first plain parameter: a user profile

 protected:
  // AParam without its "-" or "/" when AFlag; ALast for the last parameter.
  virtual void ParseParam(const QString& AParam, bool AFlag, bool ALast);
  void ParseParamFlag(const QString& AParam);
  void ParseParamNotFlag(const QString& AParam);
  virtual void ParseLast(bool /*ALast*/) {}
};
