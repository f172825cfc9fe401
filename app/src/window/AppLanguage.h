// Language files: the "*.lng" files of the folder "Languages" beside the
// program give new texts for the forms' components ([Forms]) and for the
// program's numbered messages ([Strings]), and may name a file of standard
// formats of their own ([Global] "StdProfile"). One TAppLanguage object holds
// the loaded file, the forms to translate and the key patterns. GUI thread.
#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <vector>

#include "FormTexts.h"

class TIniFile;

// One language file found.
struct TLangInfo {
  QString sTitle;      // [Global] "Title"
  QString sAuthor;     // [Global] "Author"
  int32_t nLangId = 0; // [Global] "LangId" in hexadecimal; 0 when missing or not hexadecimal
  QString sFileName;   // the file's name, without folder
};
using TALangs = std::vector<TLangInfo>;

// Title, author and language id of one file (not its file name); false when
// the file exists but cannot be read.
bool ReadLangInfo(const QString& AFileName, TLangInfo& AInfo);
// The folder of the language files: FindLanguagesDir(GetAppDir()).
QString GetLanguagesDir();
// For a program in AAppDir: the folder "Languages" beside it when that
// exists (a program run from its build folder), else the installed folder
// <prefix>/share/sorvex/Languages when that exists, else the one beside it.
QString FindLanguagesDir(const QString& AAppDir);
// The language files of ADir ("*.lng", any letter case, directories skipped),
// sorted by file name; unreadable files are left out. A missing folder gives
// an empty list.
void EnumLanguages(TALangs& ALangs, const QString& ADir = GetLanguagesDir());
// Index of the first language with ALangId, or -1. Id 0 stands for the
// built-in language and finds no file, not even one without a "LangId".
int FindLangIndex(const TALangs& ALangs, int32_t ALangId);
// A file a language names: a name beginning with "/" is taken as it stands,
// any other lies in ADir. Empty for an empty name.
QString MakeLangPath(const QString& AName, const QString& ADir = GetLanguagesDir());

// The escapes of [Forms] and [Strings] values. Every line break (CR LF, CR or
// LF) is written "\n" and each "\" as "\\", so a value stays on its line; a
// value both beginning and ending with a double quote has those two written
// as \" (the INI reader would drop them). Reading gives "\n" as LF, "\\" and
// "\"" as the character; "\" before anything else drops both, and a "\" at
// the end is dropped.
QString EscapeLngValue(const QString& AValue);
QString UnescapeLngValue(const QString& AValue);

class TAppLanguage {
 public:
  TAppLanguage();
  ~TAppLanguage();
  TAppLanguage(const TAppLanguage&) = delete;
  TAppLanguage& operator=(const TAppLanguage&) = delete;

  const QString& FileName() const { return m_sFilename; }
  // Takes effect at the next load.
  void SetFileName(const QString& AValue) { m_sFilename = AValue; }

  bool Loaded() const { return m_oIni != nullptr; }
  // True: loads FileName() (nothing when already loaded): reads [Global],
  // installs the file's messages and translates every registered form. A
  // missing or empty file loads as a language without texts; a file that
  // cannot be read leaves nothing loaded and gives false with the reason.
  // False: unloads; the built-in messages and form texts come back.
  bool SetLoaded(bool AValue, QString* AError = nullptr);

  // The forms to translate, in registration order. A text a language changes
  // on them is recorded as it stood right before the change, so unloading can
  // put it back.
  QList<QObject*> TranslateComponents() const;
  void SetTranslateComponents(const QList<QObject*>& AForms);
  void AddForm(QObject* AForm);
  void RemoveForm(QObject* AForm);

  // Key patterns (WildcardMatch): includes choose what SaveAs writes,
  // excludes what neither SaveAs nor Translate of all forms touches.
  const QStringList& ComponentIncludes() const { return m_aComponentIncludes; }
  void SetComponentIncludes(const QStringList& AValue) { m_aComponentIncludes = AValue; }
  const QStringList& ComponentExcludes() const { return m_aComponentExcludes; }
  void SetComponentExcludes(const QStringList& AValue) { m_aComponentExcludes = AValue; }
  // Remove every pattern that begins with the class name and "-" (any case).
  void ClearIncludesForComponent(const QString& ACompClassName);
  void ClearExcludesForComponent(const QString& ACompClassName);

  // The loaded file's [Global] values; empty and 0 when nothing is loaded.
  const QString& Title() const { return m_sTitle; }
  const QString& Author() const { return m_sAuthor; }
  int32_t LangId() const { return m_nLangId; }
  const QString& StdProfile() const { return m_sStdProfile; }
  // The standard-formats file of the loaded language when it names one that
  // exists; empty otherwise, and the caller then loads the built-in standard
  // formats (never keeps another language's). Only existence is checked: a
  // file that is there may still not load, so the caller also loads the
  // built-in formats (LoadFromRes("STDFMTS")) when LoadFromIni on it fails.
  QString StdProfileFile() const;

  const QString& FormsSect() const { return FFormsSect; }
  void SetFormsSect(const QString& AValue) { FFormsSect = AValue; }
  const QString& StringsSect() const { return FStringsSect; }
  void SetStringsSect(const QString& AValue) { FStringsSect = AValue; }

  // Applies [Forms] to every registered form, skipping excluded keys. Each
  // form first gets its built-in texts back, so nothing of an earlier
  // language stays. Nothing when no language is loaded.
  void Translate();
  // Applies [Forms] to one form, without the exclude patterns. A form not yet
  // registered is registered first (at the end), so that its texts come back
  // when the language is unloaded.
  void Translate(QObject* AComponent);
  // Writes the forms' present texts (includes and excludes applied) and every
  // message into AIniPath, keeping what else the file holds; [Strings] is
  // replaced whole. False with the reason when the file could not be read or
  // written; an unreadable file is left as it was.
  bool SaveAs(const QString& AIniPath, QString* AError = nullptr) const;

 private:
  // A text a language changed, with the built-in value it had.
  struct TextRecord {
    TFormText text;
    QString builtIn;
    QString applied;
    bool touched = false;
  };
  struct FormEntry {
    QPointer<QObject> form;
    std::vector<TextRecord> texts;
  };

  void Unload();
  FormEntry* EntryOf(QObject* AForm);
  void DropDeadEntries();
  static void RestoreForm(FormEntry& AEntry);
  void ApplyForms(QObject* AOnly);
  bool Included(const QString& AKey) const;
  bool Excluded(const QString& AKey) const;

  std::unique_ptr<TIniFile> m_oIni;
  QString m_sFilename;
  std::vector<FormEntry> m_aTranslateForms;
  QStringList m_aComponentIncludes;
  QStringList m_aComponentExcludes;
  QString m_sTitle;
  QString m_sAuthor;
  int32_t m_nLangId = 0;
  QString m_sStdProfile;
  QString FFormsSect;
  QString FStringsSect;
};
