#include "AppConfig.h"

#include <QLocale>

#include <algorithm>

#include "AppUtils.h"
#include "IniFile.h"

namespace {

const QString kSection = QStringLiteral("Main");

}  // namespace

namespace {

// Primary language ids; the identifier is the primary id with the
// language's default sub-language (1 << 10).
const struct {
  QLocale::Language language;
  int32_t primary;
} kPrimaryLangIds[] = {
    {QLocale::Bulgarian, 0x02}, {QLocale::Chinese, 0x04},    {QLocale::Czech, 0x05},
    {QLocale::German, 0x07},    {QLocale::English, 0x09},    {QLocale::Spanish, 0x0A},
    {QLocale::French, 0x0C},    {QLocale::Italian, 0x10},    {QLocale::Japanese, 0x11},
    {QLocale::Dutch, 0x13},     {QLocale::Polish, 0x15},     {QLocale::Portuguese, 0x16},
    {QLocale::Romanian, 0x18},  {QLocale::Russian, 0x19},    {QLocale::Turkish, 0x1F},
    {QLocale::Ukrainian, 0x22}, {QLocale::Belarusian, 0x23}, {QLocale::Estonian, 0x25},
    {QLocale::Latvian, 0x26},   {QLocale::Lithuanian, 0x27}, {QLocale::Kazakh, 0x3F},
    {QLocale::Uzbek, 0x43},
};

}  // namespace

int32_t LocaleToLangId(const QLocale& ALocale) {
  for (const auto& p : kPrimaryLangIds)
    if (p.language == ALocale.language()) return (1 << 10) | p.primary;
  return 1033;
}

QLocale LangIdToLocale(int32_t ALangId) {
  // The low ten bits are the primary language; the sub-language (the
  // country) is of no concern to the texts.
  for (const auto& p : kPrimaryLangIds)
    if (p.primary == (ALangId & 0x3FF)) return QLocale(p.language);
  return QLocale(QLocale::English);
}

int32_t SystemLangId() { return LocaleToLangId(QLocale::system()); }

TAppConfig::TAppConfig() = default;
TAppConfig::~TAppConfig() = default;

void TAppConfig::SetFileName(const QString& AFileName) {
  FFileName = AFileName;
  if (m_nUpdate == 0) m_oIni.reset();
}

void TAppConfig::BeginUpdate(bool /*AReadOnly*/) {
  if (m_nUpdate == 0 && FFileName.isEmpty()) {
    // No file: the one copy in memory is all there is.
    if (!m_oIni) m_oIni = std::make_unique<TIniFile>();
  } else if (m_nUpdate == 0) {
    m_fUpdated = false;
    m_oIni = std::make_unique<TIniFile>(FFileName);
  }
  ++m_nUpdate;
}

bool TAppConfig::EndUpdate() {
  if (m_nUpdate == 0) return true;
  if (--m_nUpdate > 0 || FFileName.isEmpty()) return true;
  QString why;
  if (!m_fUpdated) {
    // A file that could not be read is not overwritten with what little this
    // run has set: the user's settings in it would be lost.
    if (m_oIni->LoadFailed())
      why = QStringLiteral("the file cannot be read (%1) and is left as it is").arg(m_oIni->LoadError());
    else if (!m_oIni->UpdateFile(&why) && why.isEmpty())
      why = QStringLiteral("cannot write the file");
    m_fUpdated = true;
  }
  m_oIni.reset();
  SetStoreError(why.isEmpty() ? QString() : FFileName + QStringLiteral(": ") + why);
  return why.isEmpty();
}

void TAppConfig::SetStoreError(const QString& AError) {
  if (AError == m_sStoreError) return;
  m_sStoreError = AError;
  if (m_onStoreError) m_onStoreError();
}

QString TAppConfig::ReadString(const QString& AKey, const QString& ADefault) {
  BeginUpdate();
  QString v = m_oIni->ReadString(kSection, AKey, ADefault);
  EndUpdate();
  return v;
}

bool TAppConfig::ReadBool(const QString& AKey, bool ADefault) {
  BeginUpdate();
  const bool v = m_oIni->ReadBool(kSection, AKey, ADefault);
  EndUpdate();
  return v;
}

int32_t TAppConfig::ReadInteger(const QString& AKey, int32_t ADefault) {
  BeginUpdate();
  const int32_t v = m_oIni->ReadInteger(kSection, AKey, ADefault);
  EndUpdate();
  return v;
}

void TAppConfig::WriteString(const QString& AKey, const QString& AValue) {
  BeginUpdate();
  m_oIni->WriteString(kSection, AKey, AValue);
  m_fUpdated = false;
  EndUpdate();
}

void TAppConfig::WriteBool(const QString& AKey, bool AValue) {
  BeginUpdate();
  m_oIni->WriteBool(kSection, AKey, AValue);
  m_fUpdated = false;
  EndUpdate();
}

void TAppConfig::WriteInteger(const QString& AKey, int32_t AValue) {
  BeginUpdate();
  m_oIni->WriteInteger(kSection, AKey, AValue);
  m_fUpdated = false;
  EndUpdate();
}

QPoint TAppConfig::GetMainFormPos() {
  const QString text = ReadString("FormPos", QString());
  int32_t left = 0, top = 0;
  try {
    if (ScanFormat(text, "[%d,%d]", {&left, &top}) == 2) return QPoint(left, top);
  } catch (const EConvertError&) {
    // a malformed number: the window is centred
  }
  return QPoint(-1, -1);
}

void TAppConfig::SetMainFormPos(const QPoint& AValue) {
  WriteString("FormPos", QStringLiteral("[%1,%2]").arg(AValue.x()).arg(AValue.y()));
}

int32_t TAppConfig::GetLanguage() {
  const int32_t lang = ReadInteger("lang", 0);
  return lang == 0 ? SystemLangId() : lang;
}

uint32_t TAppConfig::ReadKeyDelay(const QString& AKey) {
  return uint32_t(std::clamp<int32_t>(ReadInteger(AKey, 0), 0, int32_t(kMaxKeyDelay)));
}

QString TAppConfig::FormatKey(TCvtFmtType AType) {
  static const char* const kKeys[kCvtFmtTypeCount] = {"MULFormat", "M1KFormat", "HidFormat",
                                                      "EmFormat",  "IcFormat",  "ExFormat"};
  return QString::fromLatin1(kKeys[AType < kCvtFmtTypeCount ? AType : cft_MUL]);
}

QString TAppConfig::TabVisKey(TCvtFmtType AType) {
  static const char* const kKeys[kCvtFmtTypeCount] = {"TabVisMUL", "TabVisM1K", "TabVisHID",
                                                      "TabVisEM",  "TabVisIC",  "TabVisEX"};
  return QString::fromLatin1(kKeys[AType < kCvtFmtTypeCount ? AType : cft_MUL]);
}
