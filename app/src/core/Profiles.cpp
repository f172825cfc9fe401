#include "Profiles.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <utility>

#include "AppUtils.h"
#include "IniFile.h"

namespace {

const QString kMainSection = QStringLiteral("Main");
const QString kNameKey = QStringLiteral("name");
const QString kHintKey = QStringLiteral("hint");
const QString kTemplateKey = QStringLiteral("template");
const QString kReplacesKey = QStringLiteral("replaces");

// Ids are read as signed decimal numbers; from here on a new id is taken from
// the gaps instead of counting further.
constexpr uint32_t kMaxFmtId = 0x7FFFFFFF;

// The keys of the "Main" section per class: current format's name, and
// whether it is a standard one.
struct MainKeys {
  const char* name;
  const char* std;
};
constexpr MainKeys kMainKeys[kCvtFmtTypeCount] = {
    {"CurMULFmt", "CurMULFmtStd"}, {"CurM1kFmt", "CurM1kFmtStd"}, {"CurHidFmt", "CurHidFmtStd"},
    {"CurEmmFmt", "CurEmmFmtStd"}, {"CurICFmt", "CurICFmtStd"},   {"CurExFmt", "CurExFmtStd"},
};

QString SectionName(TCvtFmtType ATip, uint32_t AId) {
  return CvtFmtTypeName(ATip) + u'.' + QString::number(AId);
}

void WriteFmtSection(TIniFile& AIni, const QString& ASection, const TCvtFmt& AFmt) {
  AIni.WriteString(ASection, kNameKey, AFmt.m_sName);
  AIni.WriteString(ASection, kHintKey, EscapeHint(AFmt.m_sHint));
  AIni.WriteString(ASection, kTemplateKey, AFmt.m_sTemplate);
  AIni.WriteString(ASection, kReplacesKey, AFmt.m_sReplaces);
}

// The class and id a section name stands for ("%s.%d"); false for names that
// are no format of a known class with an id of 1 or more.
bool ParseSectionName(const QString& ASection, TCvtFmtType* ATip, uint32_t* AId) {
  QString word;
  int32_t id = 0;
  try {
    if (ScanFormat(ASection, QStringLiteral("%s.%d"), {&word, &id}) != 2) return false;
  } catch (const EConvertError&) {
    return false;  // a number part such as "1-2" or one beyond 32 bits
  }
  if (id <= 0) return false;
  word = word.toUpper();
  for (int t = 0; t < kCvtFmtTypeCount; ++t) {
    if (word == CvtFmtTypeName(TCvtFmtType(t))) {
      *ATip = TCvtFmtType(t);
      *AId = static_cast<uint32_t>(id);
      return true;
    }
  }
  return false;
}

// Removes every section of the file that stands for the format (class, id),
// whatever its spelling ("mul.3", "MUL.03", "[ mul . 3 ]"): a hand-edited
// file may hold several, and the next load must not bring back one that an
// update or a deletion left behind.
void EraseFmtSections(TIniFile& AIni, TCvtFmtType ATip, uint32_t AId) {
  for (const QString& section : AIni.ReadSections()) {
    TCvtFmtType tip;
    uint32_t id = 0;
    if (ParseSectionName(section, &tip, &id) && tip == ATip && id == AId) AIni.EraseSection(section);
  }
}

// A file that must be read before it is changed: false when it exists but
// cannot be read, since writing it back would lose what it holds.
bool Readable(const TIniFile& AIni) { return !AIni.LoadFailed(); }

bool MakeFolderOf(const QString& AFilePath) {
  return QDir().mkpath(QFileInfo(AFilePath).absolutePath());
}

}  // namespace

TCvtFmtType CardTypeToCvtFmtType(TovkCardType AType) {
  switch (AType) {
    case ovkc_1K:
    case ovkc_4K:
      return cft_M1K;
    case ovkc_Hid:
      return cft_Hid;
    case ovkc_Em:
    case ovkc_Cod433:
      return cft_Emm;
    case ovkc_iCode:
      return cft_iCode;
    case ovkc_Ex:
      return cft_Ex;
    default:
      return cft_MUL;
  }
}

QString CvtFmtTypeName(TCvtFmtType AType) {
  static const char* const kWords[kCvtFmtTypeCount] = {"MUL", "M1K", "HID", "EMM", "IC", "EX"};
  return QString::fromLatin1(kWords[AType < kCvtFmtTypeCount ? AType : cft_MUL]);
}

int CvtFmtByteCount(TCvtFmtType AType) {
  static const int kCounts[kCvtFmtTypeCount] = {7, 4, 6, 5, 8, 16};
  return AType < kCvtFmtTypeCount ? kCounts[AType] : 0;
}

// One pass from left to right: escaping the backslashes and the line breaks
// in two passes of replacements would turn a break's "\n" into "\\n" or a
// typed "\n" into a break, whichever came second.
QString EscapeHint(const QString& AHint) {
  QString out;
  out.reserve(AHint.size() + 8);
  for (qsizetype i = 0; i < AHint.size(); ++i) {
    const QChar c = AHint[i];
    if (c == u'\\') {
      out += QLatin1String("\\\\");
    } else if (c == u'\r' || c == u'\n') {
      if (c == u'\r' && i + 1 < AHint.size() && AHint[i + 1] == u'\n') ++i;
      out += QLatin1String("\\n");
    } else {
      out += c;
    }
  }
  return out;
}

QString UnescapeHint(const QString& AText) {
  QString out;
  out.reserve(AText.size());
  for (qsizetype i = 0; i < AText.size(); ++i) {
    const QChar c = AText[i];
    if (c != u'\\' || i + 1 == AText.size()) {
      out += c;
      continue;
    }
    const QChar next = AText[++i];
    if (next == u'\\')
      out += u'\\';
    else if (next == u'n')
      out += QChar(kHintLineBreak);
  }
  return out;
}

uint32_t GetCvtFmtKey(const TCvtFmt& AObject, const TUIntKeyObjectList&) { return AObject.m_nFmtId; }

// ---- TUIntKeyObjectList ----

TUIntKeyObjectList::TUIntKeyObjectList(TGetUIntObjectKey AGetKey)
    : FGetObjKey(AGetKey ? AGetKey : GetCvtFmtKey) {}

const TCvtFmt* TUIntKeyObjectList::Items(int AIdx) const {
  return AIdx >= 0 && AIdx < Count() ? m_List[AIdx].get() : nullptr;
}

int TUIntKeyObjectList::Add(std::unique_ptr<TCvtFmt> AObject) {
  if (!AObject) return -1;
  const uint32_t key = KeyOf(*AObject);
  // Formats mostly arrive in ascending order: those go to the end unsearched.
  if (m_List.empty() || key > KeyOf(*m_List.back())) {
    m_List.push_back(std::move(AObject));
    return Count() - 1;
  }
  const auto at = std::upper_bound(m_List.begin(), m_List.end(), key,
                                   [this](uint32_t k, const auto& o) { return k < KeyOf(*o); });
  if (at != m_List.begin() && KeyOf(**(at - 1)) == key) return -1;
  const auto added = m_List.insert(at, std::move(AObject));
  return static_cast<int>(added - m_List.begin());
}

int TUIntKeyObjectList::IndexOf(uint32_t AKey) const {
  const auto at = std::lower_bound(m_List.begin(), m_List.end(), AKey,
                                   [this](const auto& o, uint32_t k) { return KeyOf(*o) < k; });
  return at != m_List.end() && KeyOf(**at) == AKey ? static_cast<int>(at - m_List.begin()) : -1;
}

TCvtFmt* TUIntKeyObjectList::GetValue(uint32_t AKey) const {
  const int i = IndexOf(AKey);
  return i < 0 ? nullptr : m_List[i].get();
}

void TUIntKeyObjectList::Remove(uint32_t AKey) { Delete(IndexOf(AKey)); }

void TUIntKeyObjectList::Delete(int AIdx) {
  if (AIdx >= 0 && AIdx < Count()) m_List.erase(m_List.begin() + AIdx);
}

void TUIntKeyObjectList::Assign(const TUIntKeyObjectList& AList) {
  if (&AList == this) return;
  ObjectVector copy;
  copy.reserve(AList.m_List.size());
  for (const auto& o : AList.m_List) copy.push_back(std::make_unique<TCvtFmt>(*o));
  m_List = std::move(copy);
}

void TUIntKeyObjectList::SetList(ObjectVector AList) {
  std::erase(AList, nullptr);
  std::stable_sort(AList.begin(), AList.end(),
                   [this](const auto& a, const auto& b) { return KeyOf(*a) < KeyOf(*b); });
  // Each key once, the first of a run of equal keys staying.
  const auto last = std::unique(AList.begin(), AList.end(), [this](const auto& a, const auto& b) {
    return KeyOf(*a) == KeyOf(*b);
  });
  AList.erase(last, AList.end());
  m_List = std::move(AList);
}

// ---- folders ----

QString GetProfilesDir(bool ACreate) {
  const QString data = GetAppDataDir(ACreate);
  return data.isEmpty() ? QString() : data + QLatin1String("/profiles");
}

// ---- TProfile ----

void TProfile::ClearLists() {
  for (TProfileItem& item : m_aItems) {
    item.List.Clear();
    item.NextId = 1;
  }
}

bool TProfile::New(const QString& AIniPath) {
  if (!ClearIni(AIniPath)) return false;
  m_sPath = AIniPath;
  ClearLists();
  m_fOpened = true;
  return true;
}

bool TProfile::Open(const QString& AIniPath) {
  if (!LoadFromIni(AIniPath)) return false;
  m_sPath = AIniPath;
  m_fOpened = true;
  return true;
}

bool TProfile::Close(bool ADelete) {
  m_fOpened = false;
  // A symbolic link is removed itself, never what it points to.
  return !ADelete || QFile::remove(m_sPath);
}

bool TProfile::Clear() {
  if (m_fOpened && !ClearIni(m_sPath)) return false;
  ClearLists();
  return true;
}

bool TProfile::LoadFromRes(const QString& ARes) {
  // The program's data is compiled in as Qt resources under ":/rcdata".
  if (ARes.isEmpty()) return false;
  QFile res(QStringLiteral(":/rcdata/") + ARes);
  if (!res.open(QIODevice::ReadOnly)) return false;
  LoadFromIniFile(TIniFile::FromBytes(res.readAll()));
  return true;
}

bool TProfile::LoadFromIni(const QString& AIniPath) {
  if (AIniPath.isEmpty() || !QFileInfo::exists(AIniPath)) return false;
  const TIniFile ini(AIniPath);
  if (!Readable(ini)) return false;
  LoadFromIniFile(ini);
  return true;
}

// The section names are listed once and scanned once per class; the first
// section of a class and id wins, and a section without a name is no format.
void TProfile::LoadFromIniFile(const TIniFile& AIni) {
  const QStringList sections = AIni.ReadSections();
  for (int t = 0; t < kCvtFmtTypeCount; ++t) {
    TProfileItem& item = m_aItems[t];
    item.List.Clear();
    item.NextId = 1;
    for (const QString& section : sections) {
      TCvtFmtType tip;
      uint32_t id;
      if (!ParseSectionName(section, &tip, &id) || tip != t || item.List.Lookup(id)) continue;
      auto fmt = std::make_unique<TCvtFmt>();
      fmt->m_nFmtId = id;
      fmt->m_sName = AIni.ReadString(section, kNameKey, QString());
      if (fmt->m_sName.isEmpty()) continue;
      fmt->m_sHint = UnescapeHint(AIni.ReadString(section, kHintKey, QString()));
      fmt->m_sTemplate = AIni.ReadString(section, kTemplateKey, QString());
      fmt->m_sReplaces = AIni.ReadString(section, kReplacesKey, QString());
      item.List.Add(std::move(fmt));
      if (id + 1 > item.NextId) item.NextId = id + 1;
    }
  }
}

void TProfile::LoadFromProfile(const TProfile& AProfileCopy) {
  // Built aside first, so that a profile may copy itself.
  std::array<TProfileItem, kCvtFmtTypeCount> items;
  for (int t = 0; t < kCvtFmtTypeCount; ++t) {
    uint32_t id = 0;
    for (const auto& src : AProfileCopy.m_aItems[t].List) {
      auto fmt = std::make_unique<TCvtFmt>(*src);
      fmt->m_nFmtId = ++id;
      items[t].List.Add(std::move(fmt));
    }
    items[t].NextId = id + 1;
  }
  m_aItems = std::move(items);
}

bool TProfile::SaveToIni(const QString& AIniPath) {
  if (AIniPath.isEmpty()) return false;
  // One write of the whole text replaces what the file held.
  TIniFile ini(AIniPath);
  ini.Clear();
  for (int t = 0; t < kCvtFmtTypeCount; ++t) {
    uint32_t n = 0;
    for (const auto& fmt : m_aItems[t].List) WriteFmtSection(ini, SectionName(TCvtFmtType(t), ++n), *fmt);
  }
  SaveExtraSections(ini);
  return ini.UpdateFile();
}

bool TProfile::AddFmt(TCvtFmtType ATip, const QString& AName, const QString& AHint, const QString& ATempl,
                      const QString& ARepl, const TCvtFmt*& VFmt) {
  TProfileItem& item = Item(ATip);
  uint32_t id = item.NextId;
  if (id >= kMaxFmtId) {
    // Counting has reached the top: the smallest id no format holds, found
    // in one walk over the ordered ids.
    id = 1;
    for (const auto& fmt : item.List) {
      if (item.List.KeyOf(*fmt) != id) break;
      ++id;
    }
  }
  auto fmt = std::make_unique<TCvtFmt>(TCvtFmt{id, AName, AHint, ATempl, ARepl});
  if (m_fOpened) {
    if (!QFileInfo::exists(m_sPath)) return false;
    TIniFile ini(m_sPath);
    if (!Readable(ini)) return false;
    WriteFmtSection(ini, SectionName(ValidTip(ATip), id), *fmt);
    if (!ini.UpdateFile()) return false;
  }
  VFmt = fmt.get();
  item.List.Add(std::move(fmt));
  if (id == item.NextId) ++item.NextId;
  return true;
}

bool TProfile::UpdFmt(TCvtFmtType ATip, uint32_t AFmtId, const QString& AName, const QString& AHint,
                      const QString& ATempl, const QString& ARepl) {
  TCvtFmt* fmt = Item(ATip).List.GetValue(AFmtId);
  if (!fmt) return false;
  const TCvtFmt updated{AFmtId, AName, AHint, ATempl, ARepl};
  if (m_fOpened) {
    // A file deleted meanwhile is made again, holding this one format.
    TIniFile ini(m_sPath);
    if (!Readable(ini)) return false;
    EraseFmtSections(ini, ValidTip(ATip), AFmtId);
    WriteFmtSection(ini, SectionName(ValidTip(ATip), AFmtId), updated);
    if (!ini.UpdateFile()) return false;
  }
  *fmt = updated;
  return true;
}

bool TProfile::DelFmt(TCvtFmtType ATip, uint32_t AFmtId) {
  TProfileItem& item = Item(ATip);
  if (!item.List.Lookup(AFmtId)) return false;
  if (m_fOpened && QFileInfo::exists(m_sPath)) {
    TIniFile ini(m_sPath);
    if (!Readable(ini)) return false;
    const qsizetype before = ini.ReadSections().size();
    EraseFmtSections(ini, ValidTip(ATip), AFmtId);
    if (ini.ReadSections().size() != before && !ini.UpdateFile()) return false;
  }
  item.List.Remove(AFmtId);
  return true;
}

bool TProfile::FmtExists(TCvtFmtType ATip, uint32_t AFmtId) const { return Item(ATip).List.Lookup(AFmtId); }

QString TProfile::ExtractProfileName(const QString& AIniPath) {
  const QString name = QFileInfo(AIniPath).fileName();
  const qsizetype dot = name.lastIndexOf(u'.');
  return dot < 0 ? name : name.left(dot);
}

QString TProfile::GetProfilePath(const QString& AName, bool ACanCreate) {
  if (AName.isEmpty() || AName == u"." || AName == u".." || AName.contains(u'/') || AName.contains(QChar(0)))
    return QString();
  const QString dir = GetProfilesDir(ACanCreate);
  if (dir.isEmpty()) return QString();
  if (ACanCreate) QDir().mkpath(dir);
  return dir + u'/' + AName + QLatin1String(".ini");
}

bool TProfile::ClearIni(const QString& AIniPath) {
  if (AIniPath.isEmpty()) return false;
  TIniFile ini(AIniPath);
  ini.Clear();
  return ini.UpdateFile();
}

// ---- TUsrProfile ----

TUsrProfile::TUsrProfile(const TStdProfile* AStdProfile) : FStdProfile(AStdProfile) {}

TUsrProfile::~TUsrProfile() {
  if (Opened()) Close(false);
}

bool TUsrProfile::New(const QString& AIniPath) {
  if (!TProfile::New(AIniPath)) return false;
  ReadMain(AIniPath);  // an empty file: every current format stays
  m_sName = ExtractProfileName(AIniPath);
  return true;
}

bool TUsrProfile::Open(const QString& AIniPath) {
  if (!TProfile::Open(AIniPath)) return false;
  ReadMain(AIniPath);
  m_sName = ExtractProfileName(AIniPath);
  return true;
}

bool TUsrProfile::Close(bool ADelete) {
  // A profile that never had a file has nowhere to keep its choices.
  const bool saved = ADelete || !m_fCurChg || Path().isEmpty() || WriteMain(Path());
  return TProfile::Close(ADelete) && saved;
}

bool TUsrProfile::Clear() {
  if (!TProfile::Clear()) return false;
  for (TUsrProfileItem& item : m_aUsrItems) {
    item.m_sCurFmt.clear();
    item.m_fCurFmtStd = false;
  }
  if (Opened()) m_fCurChg = true;
  return true;
}

void TUsrProfile::GetCurFmt(TCvtFmtType ATip, QString& VFmtName, bool& VStd) const {
  VFmtName = UsrItem(ATip).m_sCurFmt;
  VStd = UsrItem(ATip).m_fCurFmtStd;
}

void TUsrProfile::SetCurFmt(TCvtFmtType ATip, const QString& AFmtName, bool AStd) {
  TUsrProfileItem& item = UsrItem(ATip);
  if (item.m_sCurFmt.compare(AFmtName, Qt::CaseInsensitive) == 0 && item.m_fCurFmtStd == AStd) return;
  item.m_sCurFmt = AFmtName;
  item.m_fCurFmtStd = AStd;
  m_fCurChg = true;
}

void TUsrProfile::SetCurFmtName(TCvtFmtType ATip, const QString& AFmtName) {
  TUsrProfileItem& item = UsrItem(ATip);
  if (item.m_sCurFmt.compare(AFmtName, Qt::CaseInsensitive) == 0) return;
  item.m_sCurFmt = AFmtName;
  m_fCurChg = true;
}

void TUsrProfile::SetCurFmtStd(TCvtFmtType ATip, bool AStd) {
  TUsrProfileItem& item = UsrItem(ATip);
  if (item.m_fCurFmtStd == AStd) return;
  item.m_fCurFmtStd = AStd;
  m_fCurChg = true;
}

const TUIntKeyObjectList& TUsrProfile::GetCurFmtList(TCvtFmtType ATip) const {
  return GetCurFmtStd(ATip) ? GetStdFmtList(ATip) : GetFmtList(ATip);
}

const TUIntKeyObjectList& TUsrProfile::GetStdFmtList(TCvtFmtType ATip) const {
  static const TUIntKeyObjectList kNone;
  return FStdProfile ? FStdProfile->GetFmtList(ATip) : kNone;
}

void TUsrProfile::ReadMain(const QString& AIniPath) {
  MakeFolderOf(AIniPath);
  const TIniFile ini(AIniPath);
  for (int t = 0; t < kCvtFmtTypeCount; ++t) {
    TUsrProfileItem& item = m_aUsrItems[t];
    item.m_sCurFmt = ini.ReadString(kMainSection, kMainKeys[t].name, item.m_sCurFmt);
    item.m_fCurFmtStd = ini.ReadBool(kMainSection, kMainKeys[t].std, item.m_fCurFmtStd);
  }
}

void TUsrProfile::WriteMainTo(TIniFile& AIni) const {
  for (int t = 0; t < kCvtFmtTypeCount; ++t) {
    AIni.WriteString(kMainSection, kMainKeys[t].name, m_aUsrItems[t].m_sCurFmt);
    AIni.WriteBool(kMainSection, kMainKeys[t].std, m_aUsrItems[t].m_fCurFmtStd);
  }
}

bool TUsrProfile::WriteMain(const QString& AIniPath) const {
  if (AIniPath.isEmpty()) return false;
  MakeFolderOf(AIniPath);
  TIniFile ini(AIniPath);
  if (!Readable(ini)) return false;
  WriteMainTo(ini);
  return ini.UpdateFile();
}

void TUsrProfile::SaveExtraSections(TIniFile& AIni) const { WriteMainTo(AIni); }

// ---- TTempFileStream ----

TTempFileStream::TTempFileStream(const QString& APrefix) {
  const QString name = MakeTempFileName(APrefix);
  if (name.isEmpty()) return;
  setFileName(name);
  if (!open(QIODevice::ReadWrite)) remove();
}

TTempFileStream::~TTempFileStream() {
  close();
  if (m_fAutoDel && !fileName().isEmpty()) remove();
}
