#include "AppLanguage.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <map>
#include <utility>

#include "AppMessages.h"
#include "AppUtils.h"
#include "IniFile.h"

namespace {

const QString kGlobalSect = QStringLiteral("Global");
const QString kNil = QStringLiteral("nil");

int32_t ReadLangId(const TIniFile& AIni) {
  try {
    return HexToInt(AIni.ReadString(kGlobalSect, QStringLiteral("LangId"), QString()));
  } catch (const EConvertError&) {
    return 0;
  }
}

QString MsgKey(int N) { return QStringLiteral("Str%1").arg(N); }

bool AnyMatch(const QStringList& APatterns, const QString& AKey) {
  return std::any_of(APatterns.begin(), APatterns.end(),
                     [&](const QString& p) { return WildcardMatch(p, AKey); });
}

void RemovePatternsOf(QStringList& APatterns, const QString& AClassName) {
  const QString prefix = AClassName + u'-';
  APatterns.removeIf([&](const QString& p) { return p.startsWith(prefix, Qt::CaseInsensitive); });
}

}  // namespace

bool ReadLangInfo(const QString& AFileName, TLangInfo& AInfo) {
  const TIniFile ini(AFileName);
  if (ini.LoadFailed()) return false;
  AInfo.sTitle = ini.ReadString(kGlobalSect, QStringLiteral("Title"), QString());
  AInfo.sAuthor = ini.ReadString(kGlobalSect, QStringLiteral("Author"), QString());
  AInfo.nLangId = ReadLangId(ini);
  return true;
}

QString GetLanguagesDir() { return FindLanguagesDir(GetAppDir()); }

QString FindLanguagesDir(const QString& AAppDir) {
  const QString beside = AAppDir + QStringLiteral("/Languages");
  if (QFileInfo(beside).isDir()) return beside;
  const QString installed =
      QDir::cleanPath(AAppDir + QStringLiteral("/" SORVEX_SHARE_FROM_BIN "/Languages"));
  return QFileInfo(installed).isDir() ? installed : beside;
}

void EnumLanguages(TALangs& ALangs, const QString& ADir) {
  ALangs.clear();
  // Name filters of QDir ignore case unless told otherwise, as the program's
  // home system did; the order must not depend on the directory's.
  QFileInfoList files =
      QDir(ADir).entryInfoList({QStringLiteral("*.lng")}, QDir::Files | QDir::Readable, QDir::NoSort);
  std::sort(files.begin(), files.end(), [](const QFileInfo& a, const QFileInfo& b) {
    const int ci = a.fileName().compare(b.fileName(), Qt::CaseInsensitive);
    return ci != 0 ? ci < 0 : a.fileName() < b.fileName();
  });
  for (const QFileInfo& f : files) {
    TLangInfo info;
    if (!ReadLangInfo(f.filePath(), info)) continue;
    info.sFileName = f.fileName();
    ALangs.push_back(std::move(info));
  }
}

int FindLangIndex(const TALangs& ALangs, int32_t ALangId) {
  if (ALangId == 0) return -1;
  for (size_t i = 0; i < ALangs.size(); ++i)
    if (ALangs[i].nLangId == ALangId) return static_cast<int>(i);
  return -1;
}

QString MakeLangPath(const QString& AName, const QString& ADir) {
  if (AName.isEmpty() || AName.startsWith(u'/')) return AName;
  return ADir + u'/' + AName;
}

QString EscapeLngValue(const QString& AValue) {
  QString out;
  out.reserve(AValue.size() + 8);
  for (qsizetype i = 0; i < AValue.size(); ++i) {
    const QChar c = AValue[i];
    if (c == u'\r' || c == u'\n') {
      out += QLatin1String("\\n");
      if (c == u'\r' && i + 1 < AValue.size() && AValue[i + 1] == u'\n') ++i;
    } else if (c == u'\\') {
      out += QLatin1String("\\\\");
    } else {
      out += c;
    }
  }
  if (out.size() >= 2 && out.front() == u'"' && out.back() == u'"')
    out = QLatin1String("\\\"") + out.mid(1, out.size() - 2) + QLatin1String("\\\"");
  return out;
}

QString UnescapeLngValue(const QString& AValue) {
  QString out;
  out.reserve(AValue.size());
  for (qsizetype i = 0; i < AValue.size(); ++i) {
    const QChar c = AValue[i];
    if (c != u'\\') {
      out += c;
      continue;
    }
    if (++i >= AValue.size()) break;
    const QChar next = AValue[i];
    if (next == u'"' || next == u'\\')
      out += next;
    else if (next == u'n')
      out += u'\n';
  }
  return out;
}

TAppLanguage::TAppLanguage()
    : m_aComponentIncludes{QStringLiteral("*-caption"), QStringLiteral("*-*-caption"),
                           QStringLiteral("*-*-hint"), QStringLiteral("*-*-text")},
      FFormsSect(QStringLiteral("Forms")),
      FStringsSect(QStringLiteral("Strings")) {}

TAppLanguage::~TAppLanguage() { Unload(); }

bool TAppLanguage::SetLoaded(bool AValue, QString* AError) {
  if (!AValue) {
    Unload();
    return true;
  }
  if (Loaded()) return true;
  auto ini = std::make_unique<TIniFile>(m_sFilename);
  if (ini->LoadFailed()) {
    if (AError) *AError = m_sFilename + QStringLiteral(": ") + ini->LoadError();
    return false;
  }
  m_sTitle = ini->ReadString(kGlobalSect, QStringLiteral("Title"), QString());
  m_sAuthor = ini->ReadString(kGlobalSect, QStringLiteral("Author"), QString());
  m_nLangId = ReadLangId(*ini);
  m_sStdProfile = ini->ReadString(kGlobalSect, QStringLiteral("StdProfile"), QString());

  std::map<int, QString> texts;
  for (int n : AppMsgNumbers()) {
    const QString v = ini->ReadString(FStringsSect, MsgKey(n), kNil);
    if (v != kNil) texts.emplace(n, UnescapeLngValue(v));
  }
  InstallAppMsgTable(this, std::move(texts));
  m_oIni = std::move(ini);
  Translate();
  return true;
}

void TAppLanguage::Unload() {
  RemoveAppMsgTable(this);
  m_oIni.reset();
  m_sTitle.clear();
  m_sAuthor.clear();
  m_nLangId = 0;
  m_sStdProfile.clear();
  // The built-in language: every text a language changed gets its own back.
  DropDeadEntries();
  for (FormEntry& e : m_aTranslateForms) RestoreForm(e);
}

QString TAppLanguage::StdProfileFile() const {
  if (!Loaded() || m_sStdProfile.isEmpty()) return QString();
  const QString path = MakeLangPath(m_sStdProfile);
  return QFileInfo(path).isFile() ? path : QString();
}

QList<QObject*> TAppLanguage::TranslateComponents() const {
  QList<QObject*> forms;
  for (const FormEntry& e : m_aTranslateForms)
    if (e.form) forms.append(e.form.data());
  return forms;
}

void TAppLanguage::SetTranslateComponents(const QList<QObject*>& AForms) {
  std::vector<FormEntry> entries;
  for (QObject* f : AForms) {
    if (!f || std::any_of(entries.begin(), entries.end(), [f](const FormEntry& e) { return e.form == f; }))
      continue;
    if (FormEntry* old = EntryOf(f)) {
      entries.push_back(std::move(*old));
    } else {
      entries.push_back(FormEntry{f, {}});
    }
  }
  m_aTranslateForms = std::move(entries);
}

void TAppLanguage::AddForm(QObject* AForm) {
  if (!AForm || EntryOf(AForm)) return;
  m_aTranslateForms.push_back(FormEntry{AForm, {}});
}

void TAppLanguage::RemoveForm(QObject* AForm) {
  std::erase_if(m_aTranslateForms, [AForm](const FormEntry& e) { return e.form == AForm || !e.form; });
}

void TAppLanguage::ClearIncludesForComponent(const QString& ACompClassName) {
  RemovePatternsOf(m_aComponentIncludes, ACompClassName);
}

void TAppLanguage::ClearExcludesForComponent(const QString& ACompClassName) {
  RemovePatternsOf(m_aComponentExcludes, ACompClassName);
}

TAppLanguage::FormEntry* TAppLanguage::EntryOf(QObject* AForm) {
  for (FormEntry& e : m_aTranslateForms)
    if (e.form == AForm) return &e;
  return nullptr;
}

void TAppLanguage::DropDeadEntries() {
  // A destroyed form or component leaves its records behind; drop them
  // before anything is looked up, so that a new object at the same address
  // is never taken for the old one.
  std::erase_if(m_aTranslateForms, [](const FormEntry& e) { return !e.form; });
  for (FormEntry& e : m_aTranslateForms)
    std::erase_if(e.texts, [](const TextRecord& r) { return !r.text.Alive(); });
}

void TAppLanguage::RestoreForm(FormEntry& AEntry) {
  for (TextRecord& r : AEntry.texts) {
    // A text the program has set since belongs to the program now.
    if (r.touched && r.text.Get() == r.applied) r.text.Set(r.builtIn);
    r.touched = false;
  }
}

bool TAppLanguage::Included(const QString& AKey) const { return AnyMatch(m_aComponentIncludes, AKey); }

bool TAppLanguage::Excluded(const QString& AKey) const { return AnyMatch(m_aComponentExcludes, AKey); }

void TAppLanguage::Translate() { ApplyForms(nullptr); }

void TAppLanguage::Translate(QObject* AComponent) {
  if (!AComponent || !m_oIni) return;
  // A form translated before it registered would keep the language for good:
  // only registered forms get their texts back.
  AddForm(AComponent);
  ApplyForms(AComponent);
}

void TAppLanguage::ApplyForms(QObject* AOnly) {
  if (!m_oIni) return;
  DropDeadEntries();
  const QList<QObject*> forms = AOnly ? QList<QObject*>{AOnly} : TranslateComponents();
  for (QObject* f : forms)
    if (FormEntry* e = EntryOf(f)) RestoreForm(*e);

  for (const auto& [key, value] : m_oIni->ReadSectionValues(FFormsSect)) {
    const std::optional<TResolvedKey> target = ResolveFormKey(forms, key);
    if (!target || (!AOnly && Excluded(target->flatKey))) continue;
    const QString text = UnescapeLngValue(value);
    if (FormEntry* e = EntryOf(target->form)) {
      auto r = std::find_if(e->texts.begin(), e->texts.end(),
                            [&](const TextRecord& rec) { return rec.text.SameAs(target->text); });
      if (r == e->texts.end()) r = e->texts.insert(e->texts.end(), TextRecord{target->text, {}, {}, false});
      // The built-in text is what the form shows right before a language
      // first changes it: the program sets texts and refills lists after its
      // forms register, and those are the texts to come back.
      if (!r->touched) r->builtIn = r->text.Get();
      r->applied = text;
      r->touched = true;
    }
    target->text.Set(text);
  }
}

bool TAppLanguage::SaveAs(const QString& AIniPath, QString* AError) const {
  TIniFile ini(AIniPath);
  if (ini.LoadFailed()) {
    if (AError) *AError = AIniPath + QStringLiteral(": ") + ini.LoadError();
    return false;
  }
  auto write = [&](QObject* AObject, const QString& APrefix, bool AIsForm) {
    for (const auto& [path, text] : ListTexts(AObject, AIsForm)) {
      const QString key = APrefix + path;
      if (!Included(key) || Excluded(key)) continue;
      const QString value = text.Get();
      // List lines keep their places, empty ones too.
      if (value.isEmpty() && !path.startsWith(QLatin1String("Items."))) continue;
      ini.WriteString(FFormsSect, key, EscapeLngValue(value));
    }
  };
  for (const FormEntry& e : m_aTranslateForms) {
    QObject* form = e.form.data();
    if (!form) continue;
    const QString cls = FormClassName(form);
    write(form, cls + u'-', true);
    for (QObject* c : OwnedComponents(form)) {
      // A name with "-" could not be read back as one part of a key.
      if (!c->objectName().contains(u'-')) write(c, cls + u'-' + c->objectName() + u'-', false);
    }
  }

  QList<TIniFile::KeyValue> strings;
  for (int n : AppMsgNumbers()) {
    const QString stored = m_oIni ? m_oIni->ReadString(FStringsSect, MsgKey(n), kNil) : kNil;
    const QString text = stored != kNil ? UnescapeLngValue(stored) : BuiltinAppMsg(n);
    strings.append({MsgKey(n), EscapeLngValue(text)});
  }
  ini.WriteSection(FStringsSect, strings);
  return ini.UpdateFile(AError);
}
