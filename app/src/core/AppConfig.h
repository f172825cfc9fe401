// The program's settings: one INI file, section "Main", read and written key
// by key through typed properties. The file is never held open: an update
// (BeginUpdate .. EndUpdate) loads it, and the end of the outermost update
// writes it back whole. Callers that touch several keys hold one update
// around them, so the file is read and written once.
#pragma once

#include <QLocale>
#include <QPoint>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

#include "Profiles.h"

class TIniFile;

// The Windows language identifier of a locale (1033 English, 1049 Russian,
// ...): language files and the settings file name languages by it. 1033 for
// a language the table does not know.
int32_t LocaleToLangId(const QLocale& ALocale);
// The language an identifier names (its primary language); English for one
// the table does not know.
QLocale LangIdToLocale(int32_t ALangId);
// The identifier of the user's own language.
int32_t SystemLangId();

class TAppConfig {
 public:
  // The longest key delay, in milliseconds, taken from the file: the typing
  // runs on the GUI thread, and a hand-edited value must not freeze it.
  static constexpr uint32_t kMaxKeyDelay = 10000;

  TAppConfig();
  ~TAppConfig();  // an update still open is dropped unwritten
  TAppConfig(const TAppConfig&) = delete;
  TAppConfig& operator=(const TAppConfig&) = delete;

  // Empty when there is no file (no per-user folder to keep it in): the
  // settings then start from their defaults and live in memory for the run;
  // nothing is ever written.
  const QString& FileName() const { return FFileName; }
  void SetFileName(const QString& AFileName);

  // AReadOnly changes nothing: every outermost update writes the file back.
  void BeginUpdate(bool AReadOnly = false);
  // False when the outermost end could not write the file (StoreError says
  // why); the settings read so far stay valid.
  bool EndUpdate();

  // Why the last outermost update could not store the settings: the file,
  // then the reason. Empty when it stored them.
  const QString& StoreError() const { return m_sStoreError; }
  // Called whenever StoreError changes: once when storing begins to fail
  // (not again at every update that fails the same way) and once when it
  // works again, so that the user is told once.
  void SetOnStoreErrorChanged(std::function<void()> AHandler) { m_onStoreError = std::move(AHandler); }

  QString ReadString(const QString& AKey, const QString& ADefault);
  bool ReadBool(const QString& AKey, bool ADefault);
  int32_t ReadInteger(const QString& AKey, int32_t ADefault);
  void WriteString(const QString& AKey, const QString& AValue);
  void WriteBool(const QString& AKey, bool AValue);
  void WriteInteger(const QString& AKey, int32_t AValue);

  // "[left,top]"; (-1, -1) when the value does not hold two numbers.
  QPoint GetMainFormPos();
  void SetMainFormPos(const QPoint& AValue);
  // 0 in the file means the built-in language and reads as the system's own.
  int32_t GetLanguage();
  void SetLanguage(int32_t AValue) { WriteInteger("lang", AValue); }

  bool GetSingleInstance() { return ReadBool("OneInstance", false); }
  void SetSingleInstance(bool AValue) { WriteBool("OneInstance", AValue); }
  bool GetTopMost() { return ReadBool("TopMost", false); }
  void SetTopMost(bool AValue) { WriteBool("TopMost", AValue); }
  QString GetPort() { return ReadString("Port", QString()); }
  void SetPort(const QString& AValue) { WriteString("Port", AValue); }
  bool GetPortEnable() { return ReadBool("PortEnable", false); }
  void SetPortEnable(bool AValue) { WriteBool("PortEnable", AValue); }
  bool GetShowFmtPan() { return ReadBool("ShowFmtPan", true); }
  void SetShowFmtPan(bool AValue) { WriteBool("ShowFmtPan", AValue); }
  int32_t GetActivePageN() { return ReadInteger("ActivePageN", 0); }
  void SetActivePageN(int32_t AValue) { WriteInteger("ActivePageN", AValue); }
  QString GetUserProfile() { return ReadString("Profile", QString()); }
  void SetUserProfile(const QString& AValue) { WriteString("Profile", AValue); }

  // The current format of a class while no user profile is open, and
  // whether it is a standard one; by class, and by the names of the keys.
  QString GetFormat(TCvtFmtType AType) { return ReadString(FormatKey(AType), QString()); }
  void SetFormat(TCvtFmtType AType, const QString& AValue) { WriteString(FormatKey(AType), AValue); }
  bool GetFormatStd(TCvtFmtType AType) { return ReadBool(QStringLiteral("Std") + FormatKey(AType), false); }
  void SetFormatStd(TCvtFmtType AType, bool AValue) { WriteBool(QStringLiteral("Std") + FormatKey(AType), AValue); }
  QString GetMULFormat() { return GetFormat(cft_MUL); }
  void SetMULFormat(const QString& AValue) { SetFormat(cft_MUL, AValue); }
  QString GetM1KFormat() { return GetFormat(cft_M1K); }
  void SetM1KFormat(const QString& AValue) { SetFormat(cft_M1K, AValue); }
  QString GetHidFormat() { return GetFormat(cft_Hid); }
  void SetHidFormat(const QString& AValue) { SetFormat(cft_Hid, AValue); }
  QString GetEmFormat() { return GetFormat(cft_Emm); }
  void SetEmFormat(const QString& AValue) { SetFormat(cft_Emm, AValue); }
  QString GetIcFormat() { return GetFormat(cft_iCode); }
  void SetIcFormat(const QString& AValue) { SetFormat(cft_iCode, AValue); }
  QString GetExFormat() { return GetFormat(cft_Ex); }
  void SetExFormat(const QString& AValue) { SetFormat(cft_Ex, AValue); }
  bool GetStdMULFormat() { return GetFormatStd(cft_MUL); }
  void SetStdMULFormat(bool AValue) { SetFormatStd(cft_MUL, AValue); }
  bool GetStdM1KFormat() { return GetFormatStd(cft_M1K); }
  void SetStdM1KFormat(bool AValue) { SetFormatStd(cft_M1K, AValue); }
  bool GetStdHidFormat() { return GetFormatStd(cft_Hid); }
  void SetStdHidFormat(bool AValue) { SetFormatStd(cft_Hid, AValue); }
  bool GetStdEmFormat() { return GetFormatStd(cft_Emm); }
  void SetStdEmFormat(bool AValue) { SetFormatStd(cft_Emm, AValue); }
  bool GetStdIcFormat() { return GetFormatStd(cft_iCode); }
  void SetStdIcFormat(bool AValue) { SetFormatStd(cft_iCode, AValue); }
  bool GetStdExFormat() { return GetFormatStd(cft_Ex); }
  void SetStdExFormat(bool AValue) { SetFormatStd(cft_Ex, AValue); }

  bool GetTransFmtPar() { return ReadBool("TransFmtPar", false); }
  void SetTransFmtPar(bool AValue) { WriteBool("TransFmtPar", AValue); }
  bool GetTransLog() { return ReadBool("TransLog", false); }
  void SetTransLog(bool AValue) { WriteBool("TransLog", AValue); }
  QString GetLogDir() { return ReadString("LogDir", QString()); }
  void SetLogDir(const QString& AValue) { WriteString("LogDir", AValue); }
  int32_t GetTransMethod() { return ReadInteger("TransMethod", 0); }
  void SetTransMethod(int32_t AValue) { WriteInteger("TransMethod", AValue); }
  // Milliseconds between key down and key up, and after key up; 0..kMaxKeyDelay.
  uint32_t GetPressKeyDelay() { return ReadKeyDelay("PressKeyDelay"); }
  void SetPressKeyDelay(uint32_t AValue) { WriteInteger("PressKeyDelay", int32_t(AValue)); }
  uint32_t GetReleaseKeyDelay() { return ReadKeyDelay("ReleaseKeyDelay"); }
  void SetReleaseKeyDelay(uint32_t AValue) { WriteInteger("ReleaseKeyDelay", int32_t(AValue)); }

  // Whether the format page of a class is shown; by class, and by key name.
  bool GetTabVis(TCvtFmtType AType) { return ReadBool(TabVisKey(AType), true); }
  void SetTabVis(TCvtFmtType AType, bool AValue) { WriteBool(TabVisKey(AType), AValue); }
  bool GetTabVisMUL() { return GetTabVis(cft_MUL); }
  void SetTabVisMUL(bool AValue) { SetTabVis(cft_MUL, AValue); }
  bool GetTabVisM1K() { return GetTabVis(cft_M1K); }
  void SetTabVisM1K(bool AValue) { SetTabVis(cft_M1K, AValue); }
  bool GetTabVisHID() { return GetTabVis(cft_Hid); }
  void SetTabVisHID(bool AValue) { SetTabVis(cft_Hid, AValue); }
  bool GetTabVisEM() { return GetTabVis(cft_Emm); }
  void SetTabVisEM(bool AValue) { SetTabVis(cft_Emm, AValue); }
  bool GetTabVisIC() { return GetTabVis(cft_iCode); }
  void SetTabVisIC(bool AValue) { SetTabVis(cft_iCode, AValue); }
  bool GetTabVisEX() { return GetTabVis(cft_Ex); }
  void SetTabVisEX(bool AValue) { SetTabVis(cft_Ex, AValue); }

  int32_t GetDefFormat() { return ReadInteger("DefFormat", 0); }
  void SetDefFormat(int32_t AValue) { WriteInteger("DefFormat", AValue); }
  bool GetAltWorkPort() { return ReadBool("AltWorkPort", false); }
  void SetAltWorkPort(bool AValue) { WriteBool("AltWorkPort", AValue); }
  bool GetDebugMode() { return ReadBool("DebugMode", false); }
  void SetDebugMode(bool AValue) { WriteBool("DebugMode", AValue); }

  static QString FormatKey(TCvtFmtType AType);
  static QString TabVisKey(TCvtFmtType AType);

 private:
  uint32_t ReadKeyDelay(const QString& AKey);
  void SetStoreError(const QString& AError);

  int m_nUpdate = 0;
  bool m_fUpdated = true;
  std::unique_ptr<TIniFile> m_oIni;
  QString FFileName;
  QString m_sStoreError;
  std::function<void()> m_onStoreError;
};
