// Translation of forms through the meta-object adapter: a small form with
// the kinds of components the program's windows have, translated from a
// fixture language file, restored, and written back out as a template.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QListWidget>
#include <QMainWindow>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <functional>
#include <map>
#include <memory>

#include "AppLanguage.h"
#include "common/QStringPrinter.h"
#include "FormTexts.h"
#include "IniFile.h"

// Widgets need an application object; it lives for the whole run and is made
// only when tests run (listing the tests needs no platform).
class QtApp : public ::testing::Environment {
 public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "sorvex_language_tests";
    static char* argv[] = {name, nullptr};
    m_app = std::make_unique<QApplication>(argc, argv);
  }
  void TearDown() override { m_app.reset(); }

 private:
  std::unique_ptr<QApplication> m_app;
};
[[maybe_unused]] static auto* const g_qtApp = ::testing::AddGlobalTestEnvironment(new QtApp);

// Forms sit in no namespace: the class name is the key's first part.
class TfmLangTest : public QWidget {
  Q_OBJECT

 public:
  TfmLangTest() {
    setWindowTitle("Test form");
    // A dialog of this form opened first, with a button of the same name as
    // one of the form's: it is a form of its own and must not take the key.
    dlgChild = new QDialog(this);
    auto* childButton = new QPushButton("child", dlgChild);
    childButton->setObjectName("btnApply");

    auto* layout = new QVBoxLayout(this);
    auto* pnlTop = new QFrame(this);
    pnlTop->setObjectName("pnlTop");
    auto* top = new QHBoxLayout(pnlTop);
    labPort = new QLabel("Port:", pnlTop);
    labPort->setObjectName("labPort");
    labPort->setToolTip("The reader's port");
    btnApply = new QPushButton("Apply", pnlTop);
    btnApply->setObjectName("btnApply");
    edtName = new QLineEdit(pnlTop);
    edtName->setObjectName("edtName");
    edtName->setPlaceholderText("name of the format");
    top->addWidget(labPort);
    top->addWidget(btnApply);
    top->addWidget(edtName);
    layout->addWidget(pnlTop);

    cbDefCmt = new QComboBox(this);
    cbDefCmt->setObjectName("cbDefCmt");
    cbDefCmt->addItems({"none", "Mifare UL,DF", "HID"});
    layout->addWidget(cbDefCmt);

    rgTranMethod = new QGroupBox("Transfer method", this);
    rgTranMethod->setObjectName("rgTranMethod");
    auto* radios = new QVBoxLayout(rgTranMethod);
    radios->addWidget(new QRadioButton("Imititsiya typing", rgTranMethod));
    radios->addWidget(new QRadioButton("Copy to Clipboard", rgTranMethod));
    layout->addWidget(rgTranMethod);

    gridCols = new QTableWidget(1, 2, this);
    gridCols->setObjectName("gridCols");
    gridCols->setHorizontalHeaderLabels({"Byte", "Value"});
    layout->addWidget(gridCols);

    lstLog = new QListWidget(this);
    lstLog->setObjectName("lstLog");
    lstLog->addItems({"first", ""});
    layout->addWidget(lstLog);

    tvTree = new QTreeWidget(this);
    tvTree->setObjectName("tvTree");
    auto* root = new QTreeWidgetItem(tvTree, QStringList{"root"});
    new QTreeWidgetItem(root, QStringList{"leaf"});
    layout->addWidget(tvTree);

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName("PageControl1");
    tabMUL = new QWidget;
    tabMUL->setObjectName("tabMUL");
    tabM1K = new QWidget;
    tabM1K->setObjectName("tabM1K");
    auto* page = new QVBoxLayout(tabMUL);
    edtTemplate = new QLineEdit("%s", tabMUL);
    edtTemplate->setObjectName("edtTemplate");
    page->addWidget(edtTemplate);
    PageControl1->addTab(tabMUL, "Mifare UL,DF");
    PageControl1->addTab(tabM1K, "Mifare 1K/4K");
    layout->addWidget(PageControl1);

    // A second tab widget, with a page holding a label: Qt gives both tab
    // bars named buttons of their own.
    pcHelp = new QTabWidget(this);
    pcHelp->setObjectName("pcHelp");
    auto* tabHelp = new QWidget;
    tabHelp->setObjectName("tabHelp");
    labHelp = new QLabel("Help", tabHelp);
    labHelp->setObjectName("labHelp");
    pcHelp->addTab(tabHelp, "Help");
    layout->addWidget(pcHelp);
    // A pop-up menu a button carries.
    btnFmtMenu = new QToolButton(this);
    btnFmtMenu->setObjectName("btnFmtMenu");
    menuFmt = new QMenu("Formats", btnFmtMenu);
    menuFmt->setObjectName("menuFmt");
    btnFmtMenu->setMenu(menuFmt);
    layout->addWidget(btnFmtMenu);
    edtName->setClearButtonEnabled(true);

    N1 = new QAction("separator", this);
    N1->setObjectName("N1");
    addAction(N1);
    actAbout = new QAction("&About...", this);
    actAbout->setObjectName("actAbout");
    actExit = new QAction("E&xit", this);
    actExit->setObjectName("actExit");
    actExit->setToolTip("Leave the program");

    auto* unnamed = new QLabel("unnamed", this);
    layout->addWidget(unnamed);
  }

  QDialog* dlgChild;
  QLabel* labPort;
  QPushButton* btnApply;
  QLineEdit* edtName;
  QComboBox* cbDefCmt;
  QGroupBox* rgTranMethod;
  QTableWidget* gridCols;
  QListWidget* lstLog;
  QTreeWidget* tvTree;
  QTabWidget* PageControl1;
  QWidget* tabMUL;
  QWidget* tabM1K;
  QLineEdit* edtTemplate;
  QTabWidget* pcHelp;
  QLabel* labHelp;
  QToolButton* btnFmtMenu;
  QMenu* menuFmt;
  QAction* N1;
  QAction* actAbout;
  QAction* actExit;

  QString Radio(int i) const { return rgTranMethod->findChildren<QRadioButton*>()[i]->text(); }
  QString Header(int i) const { return gridCols->horizontalHeaderItem(i)->text(); }
};

template <class T>
T* Named(T* AObject, const char* AName) {
  AObject->setObjectName(AName);
  return AObject;
}

// Built as the program's main window is: a main window whose widgets nest in
// group boxes, tab pages and a plain panel, with actions and pop-up menus of
// its own and lists the program fills itself.
class TfmLangMain : public QMainWindow {
  Q_OBJECT

 public:
  TfmLangMain() {
    setWindowTitle("Sorvex");
    auto* central = Named(new QWidget(this), "centralwidget");
    setCentralWidget(central);
    auto* row = new QHBoxLayout(central);

    auto* grMain = Named(new QGroupBox("Reader", central), "grMain");
    auto* left = new QVBoxLayout(grMain);
    cbPorts = Named(new QComboBox(grMain), "cbPorts");
    left->addWidget(cbPorts);
    rgTranMethod = Named(new QGroupBox("Transfer method", grMain), "rgTranMethod");
    auto* radios = new QVBoxLayout(rgTranMethod);
    radios->addWidget(Named(new QRadioButton("Imititsiya typing", rgTranMethod), "rbTyping"));
    radios->addWidget(Named(new QRadioButton("Copy to Clipboard", rgTranMethod), "rbClipboard"));
    left->addWidget(rgTranMethod);
    row->addWidget(grMain);

    auto* grFmtPan = Named(new QGroupBox("Formats", central), "grFmtPan");
    auto* right = new QVBoxLayout(grFmtPan);
    PageControl1 = Named(new QTabWidget(grFmtPan), "PageControl1");
    cbMULFmt = AddPage("tabMUL", "Mifare UL,DF", "cbMULFmt");
    AddPage("tabM1K", "Mifare 1K/4K", "cbM1kFmt");
    right->addWidget(PageControl1);
    auto* panFmtEdit = Named(new QWidget(grFmtPan), "panFmtEdit");
    auto* edit = new QVBoxLayout(panFmtEdit);
    labName = Named(new QLabel("Name:", panFmtEdit), "labName");
    edtName = Named(new QLineEdit(panFmtEdit), "edtName");
    edtTemplate = Named(new QLineEdit(panFmtEdit), "edtTemplate");
    for (QWidget* w : std::initializer_list<QWidget*>{labName, edtName, edtTemplate}) edit->addWidget(w);
    right->addWidget(panFmtEdit);
    row->addWidget(grFmtPan);

    actAbout = Named(new QAction("&About...", this), "actAbout");
    actExit = Named(new QAction("E&xit", this), "actExit");
    menuTray = Named(new QMenu("Tray", this), "menuTray");
    menuTray->addAction(actAbout);
    N1 = Named(menuTray->addSeparator(), "N1");
    menuTray->addAction(actExit);
    menuContext = Named(new QMenu(this), "menuContext");
    miFormats = Named(menuContext->addMenu("Formats"), "miFormats");
  }

  QString Radio(int i) const { return rgTranMethod->findChildren<QRadioButton*>()[i]->text(); }

  QComboBox* cbPorts;
  QGroupBox* rgTranMethod;
  QTabWidget* PageControl1;
  QComboBox* cbMULFmt;
  QLabel* labName;
  QLineEdit* edtName;
  QLineEdit* edtTemplate;
  QAction* actAbout;
  QAction* actExit;
  QMenu* menuTray;
  QAction* N1;
  QMenu* menuContext;
  QMenu* miFormats;

 private:
  QComboBox* AddPage(const char* APage, const char* ACaption, const char* ACombo) {
    auto* page = Named(new QWidget, APage);
    auto* combo = Named(new QComboBox(page), ACombo);
    (new QVBoxLayout(page))->addWidget(combo);
    PageControl1->addTab(page, ACaption);
    return combo;
  }
};

namespace {

struct Expect {
  const char* what;
  std::function<QString(const TfmLangTest&)> get;
  QString builtIn;
  QString translated;
};

// Every text the fixture file below changes, with its built-in value.
std::vector<Expect> Expectations() {
  return {
      {"form caption", [](const TfmLangTest& f) { return f.windowTitle(); }, "Test form",
       QString::fromUtf8("Тестовая форма")},
      {"label caption", [](const TfmLangTest& f) { return f.labPort->text(); }, "Port:",
       QString::fromUtf8("Порт:")},
      {"label hint, two lines", [](const TfmLangTest& f) { return f.labPort->toolTip(); },
       "The reader's port", QString::fromUtf8("Порт\nсчитывателя")},
      {"label statusTip by its own name", [](const TfmLangTest& f) { return f.labPort->statusTip(); }, "",
       QString::fromUtf8("статус")},
      {"button caption, quoted, key in other case", [](const TfmLangTest& f) { return f.btnApply->text(); },
       "Apply", QString::fromUtf8("\"Применить\"")},
      {"button hint through a nested key", [](const TfmLangTest& f) { return f.btnApply->toolTip(); }, "",
       QString::fromUtf8("вложенный")},
      {"edit text", [](const TfmLangTest& f) { return f.edtName->text(); }, "", QString::fromUtf8("Иван")},
      {"edit text hint", [](const TfmLangTest& f) { return f.edtName->placeholderText(); },
       "name of the format", QString::fromUtf8("имя формата")},
      {"combo item 1", [](const TfmLangTest& f) { return f.cbDefCmt->itemText(1); }, "Mifare UL,DF",
       QString::fromUtf8("Мифар UL,DF")},
      {"combo item 0 untouched", [](const TfmLangTest& f) { return f.cbDefCmt->itemText(0); }, "none", "none"},
      {"radio group caption", [](const TfmLangTest& f) { return f.rgTranMethod->title(); }, "Transfer method",
       QString::fromUtf8("Способ передачи")},
      {"radio button 0", [](const TfmLangTest& f) { return f.Radio(0); }, "Imititsiya typing",
       QString::fromUtf8("Имитация набора")},
      {"radio button 1", [](const TfmLangTest& f) { return f.Radio(1); }, "Copy to Clipboard",
       QString::fromUtf8("Копировать в буфер")},
      {"header section 1", [](const TfmLangTest& f) { return f.Header(1); }, "Value",
       QString::fromUtf8("Значение")},
      {"list line 1 (empty)", [](const TfmLangTest& f) { return f.lstLog->item(1)->text(); }, "",
       QString::fromUtf8("строка")},
      {"tree node 1 (the leaf)", [](const TfmLangTest& f) { return f.tvTree->topLevelItem(0)->child(0)->text(0); },
       "leaf", QString::fromUtf8("лист")},
      {"tab caption", [](const TfmLangTest& f) { return f.PageControl1->tabText(1); }, "Mifare 1K/4K",
       QString::fromUtf8("Мифар 1К/4К")},
      {"child dialog's button untouched", [](const TfmLangTest& f) {
         return f.dlgChild->findChild<QPushButton*>()->text();
       }, "child", "child"},
      {"component name is no text", [](const TfmLangTest& f) { return f.labPort->objectName(); }, "labPort",
       "labPort"},
  };
}

const char kFixture[] =
    "[Global]\nTitle=Test\nLangId=0419\n"
    "[Forms]\n"
    "TfmLangTest-Caption=Тестовая форма\n"
    "TfmLangTest-labPort-Caption=Порт:\n"
    "TfmLangTest-labPort-Hint=Порт\\nсчитывателя\n"
    "TfmLangTest-labPort-statusTip=статус\n"
    "tfmlangtest-BTNAPPLY-caption=\\\"Применить\\\"\n"
    "TfmLangTest-pnlTop-btnApply-Hint=вложенный\n"
    "TfmLangTest-edtName-Text=Иван\n"
    "TfmLangTest-edtName-TextHint=имя формата\n"
    "TfmLangTest-cbDefCmt-Items.Strings(1)=Мифар UL,DF\n"
    "TfmLangTest-cbDefCmt-Items.Strings(3)=beyond the list\n"
    "TfmLangTest-rgTranMethod-Caption=Способ передачи\n"
    "TfmLangTest-rgTranMethod-Items.Strings(0)=Имитация набора\n"
    "TfmLangTest-rgTranMethod-Items.Strings(1)=Копировать в буфер\n"
    "TfmLangTest-gridCols-Columns<1>.Caption=Значение\n"
    "TfmLangTest-gridCols-Columns<2>.Caption=beyond the columns\n"
    "TfmLangTest-lstLog-Items.Strings(1)=строка\n"
    "TfmLangTest-tvTree-Items.Strings(1)=лист\n"
    "TfmLangTest-tabM1K-Caption=Мифар 1К/4К\n"
    "TfmLangTest-labPort-objectName=renamed\n"
    "TfmLangTest-labPort-NoSuchProperty=x\n"
    "TfmLangTest-labPort-Caption.Font=x\n"
    "TfmLangTest-missing-Caption=x\n"
    "TfmLangTest-edtName-Caption=an edit has no caption\n"
    "TOtherForm-Caption=x\n"
    "TfmLangTest=x\n";

class FormTranslate : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_dir.isValid());
    m_sFixture = WriteLng("fixture.lng", kFixture);
  }

  QString WriteLng(const char* AName, const QByteArray& AText) {
    const QString path = m_dir.filePath(AName);
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(AText);
    return path;
  }

  void Load(TAppLanguage& ALang, const QString& APath) {
    ALang.SetLoaded(false);
    ALang.SetFileName(APath);
    ASSERT_TRUE(ALang.SetLoaded(true));
  }

  static void ExpectTexts(const TfmLangTest& AForm, bool ATranslated) {
    for (const Expect& e : Expectations())
      EXPECT_EQ(e.get(AForm), ATranslated ? e.translated : e.builtIn)
          << e.what << (ATranslated ? " (translated)" : " (built-in)");
  }

  QTemporaryDir m_dir;
  QString m_sFixture;
};

TEST_F(FormTranslate, FixtureAppliedPropertyByPropertyThenRestored) {
  TfmLangTest form;
  TAppLanguage lang;
  lang.AddForm(&form);
  Load(lang, m_sFixture);
  ExpectTexts(form, true);
  EXPECT_EQ(form.N1->text(), QString::fromUtf8("separator"));

  // Back to the built-in language: every changed text comes back.
  lang.SetLoaded(false);
  ExpectTexts(form, false);

  // A second language silent where the first spoke leaves no trace of it.
  Load(lang, m_sFixture);
  Load(lang, WriteLng("other.lng", "[Forms]\nTfmLangTest-labPort-Caption=Port (B):\n"));
  EXPECT_EQ(form.labPort->text(), "Port (B):");
  EXPECT_EQ(form.windowTitle(), "Test form");
  EXPECT_EQ(form.Radio(0), "Imititsiya typing");
  EXPECT_EQ(form.Header(1), "Value");
}

TEST_F(FormTranslate, TextsTheProgramSetsItselfAreNotRestoredOver) {
  TfmLangTest form;
  TAppLanguage lang;
  lang.AddForm(&form);
  // Set by the program after the form registered, before any language: this
  // is what the built-in language shows.
  form.labPort->setText("Enable");
  form.cbDefCmt->clear();
  form.cbDefCmt->addItems({"HID", "EMM"});
  Load(lang, m_sFixture);
  EXPECT_EQ(form.labPort->text(), QString::fromUtf8("Порт:"));
  EXPECT_EQ(form.cbDefCmt->itemText(1), QString::fromUtf8("Мифар UL,DF"));
  lang.SetLoaded(false);
  EXPECT_EQ(form.labPort->text(), "Enable");
  EXPECT_EQ(form.cbDefCmt->itemText(0), "HID");
  EXPECT_EQ(form.cbDefCmt->itemText(1), "EMM");

  // Set by the program while a language is loaded.
  Load(lang, m_sFixture);
  form.labPort->setText("Port: ttyUSB0");
  // A component made after the form registered.
  auto* late = new QPushButton("Late", &form);
  late->setObjectName("btnLate");
  Load(lang, WriteLng("late.lng", "[Forms]\nTfmLangTest-btnLate-Caption=Поздний\n"));
  EXPECT_EQ(late->text(), QString::fromUtf8("Поздний"));
  EXPECT_EQ(form.labPort->text(), "Port: ttyUSB0");
  lang.SetLoaded(false);
  EXPECT_EQ(late->text(), "Late");
  EXPECT_EQ(form.labPort->text(), "Port: ttyUSB0");
}

TEST_F(FormTranslate, ExcludesApplyToAllFormsButNotToOneForm) {
  const QString path = WriteLng("n1.lng",
                                "[Forms]\nTfmLangTest-N1-Caption=Разделитель\n"
                                "TfmLangTest-cbDefCmt-Items.Strings(2)=ХИД\n"
                                "TfmLangTest-labPort-Caption=Порт:\n"
                                // Components named through the widgets they sit in.
                                "TfmLangTest-PageControl1-tabMUL-edtTemplate-Text=шаблон\n"
                                "TfmLangTest-tabMUL-edtTemplate-Text=шаблон\n"
                                "TfmLangTest-pnlTop-btnApply-Caption=Применить\n");
  TfmLangTest form;
  TAppLanguage lang;
  lang.AddForm(&form);
  lang.SetComponentExcludes({"*-N*-Caption", "*-cbDefCmt-Items*", "*-edtTemplate-Text", "*-btnApply-Caption"});
  Load(lang, path);
  EXPECT_EQ(form.N1->text(), "separator");
  EXPECT_EQ(form.cbDefCmt->itemText(2), "HID");
  EXPECT_EQ(form.edtTemplate->text(), "%s");
  EXPECT_EQ(form.btnApply->text(), "Apply");
  EXPECT_EQ(form.labPort->text(), QString::fromUtf8("Порт:"));

  lang.Translate(&form);
  EXPECT_EQ(form.N1->text(), QString::fromUtf8("Разделитель"));
  EXPECT_EQ(form.cbDefCmt->itemText(2), QString::fromUtf8("ХИД"));
  EXPECT_EQ(form.edtTemplate->text(), QString::fromUtf8("шаблон"));
  EXPECT_EQ(form.btnApply->text(), QString::fromUtf8("Применить"));

  // Patterns of one form's class go; the others stay.
  lang.SetComponentExcludes({"TfmLangTest-labPort-Caption", "tfmlangtest-x", "TOther-x", "TfmLangTestX-y"});
  lang.ClearExcludesForComponent("TFMLANGTEST");
  EXPECT_EQ(lang.ComponentExcludes(), QStringList({"TOther-x", "TfmLangTestX-y"}));
  lang.ClearIncludesForComponent("TfmLangTest");
  EXPECT_EQ(lang.ComponentIncludes(), QStringList({"*-caption", "*-*-caption", "*-*-hint", "*-*-text"}));
}

TEST_F(FormTranslate, OnlyTheFirstFormOfAClassAndDestroyedFormsAreSafe) {
  TAppLanguage lang;
  auto first = std::make_unique<TfmLangTest>();
  TfmLangTest second;
  lang.AddForm(first.get());
  lang.AddForm(&second);
  lang.AddForm(first.get());  // once only
  EXPECT_EQ(lang.TranslateComponents(), QList<QObject*>({first.get(), &second}));
  Load(lang, m_sFixture);
  EXPECT_EQ(first->windowTitle(), QString::fromUtf8("Тестовая форма"));
  EXPECT_EQ(second.windowTitle(), "Test form");

  // A form destroyed without removing itself is simply gone.
  first.reset();
  EXPECT_EQ(lang.TranslateComponents(), QList<QObject*>({&second}));
  lang.Translate();
  EXPECT_EQ(second.windowTitle(), QString::fromUtf8("Тестовая форма"));
  lang.RemoveForm(&second);
  EXPECT_TRUE(lang.TranslateComponents().isEmpty());
  lang.SetLoaded(false);
  // Removed: its texts are the program's business now.
  EXPECT_EQ(second.windowTitle(), QString::fromUtf8("Тестовая форма"));
}

TEST_F(FormTranslate, MalformedPathsAddressNothing) {
  const char* const keys[] = {
      "TfmLangTest-cbDefCmt-Items.Strings(x)",
      "TfmLangTest-cbDefCmt-Items.Strings()",
      "TfmLangTest-cbDefCmt-Items.Strings(-1)",  // no part of a key holds "-"
      "TfmLangTest-cbDefCmt-Items.Strings(+1)",
      "TfmLangTest-cbDefCmt-Items.Strings( 1)",
      "TfmLangTest-cbDefCmt-Items.Strings(1",
      "TfmLangTest-cbDefCmt-Items.Strings(1)x",
      "TfmLangTest-cbDefCmt-Items.Strings(99999999999)",
      "TfmLangTest-cbDefCmt-Items.Strings(1).Caption",  // three parts
      "TfmLangTest-cbDefCmt-Strings(1)",                // the list's own line, one part
      "TfmLangTest-cbDefCmt-Items",
      "TfmLangTest-cbDefCmt-Items.",
      "TfmLangTest-cbDefCmt-.Strings(1)",
      "TfmLangTest-gridCols-Columns<1>",                // no .Caption
      "TfmLangTest-gridCols-Columns<1>.Hint",
      "TfmLangTest-gridCols-Columns<x>.Caption",
      "TfmLangTest-gridCols-Columns<>.Caption",
      "TfmLangTest-gridCols-Columns(1).Caption",
      "TfmLangTest-gridCols-Columns<1>.Caption.Text",
      "TfmLangTest-labPort-Items.Strings(0)",           // a label has no lines
      "TfmLangTest-labPort-Caption.Font.Name",
      "TfmLangTest-labPort-",
      "TfmLangTest--Caption",
      "TfmLangTest-labPort--Caption",
      "TfmLangTest-",
      "-Caption",
  };
  TfmLangTest form;
  const QList<QObject*> forms{&form};
  QByteArray file = "[Forms]\n";
  for (const char* key : keys) {
    EXPECT_FALSE(ResolveFormKey(forms, key)) << key;
    file += QByteArray(key) + "=x\n";
  }
  EXPECT_TRUE(ResolveFormKey(forms, "TfmLangTest-cbDefCmt-Items.Strings(1)"));
  EXPECT_TRUE(ResolveFormKey(forms, "TfmLangTest-gridCols-Columns<1>.Caption"));

  TAppLanguage lang;
  lang.AddForm(&form);
  Load(lang, WriteLng("malformed.lng", file));
  ExpectTexts(form, false);
  EXPECT_EQ(form.cbDefCmt->itemText(2), "HID");
  EXPECT_EQ(form.Header(0), "Byte");
}

TEST_F(FormTranslate, PartsQtBuildsItsControlsFromAreNoComponents) {
  TfmLangTest form;
  QStringList names;
  for (QObject* c : OwnedComponents(&form)) names.append(c->objectName());
  for (const char* name : {"labPort", "edtTemplate", "tabMUL", "tabHelp", "labHelp", "menuFmt", "N1"})
    EXPECT_TRUE(names.contains(name)) << name;
  for (const QString& name : names) EXPECT_FALSE(name.startsWith("qt_")) << name.toStdString();
  for (const char* name : {"ScrollLeftButton", "ScrollRightButton", "_q_qlineeditclearaction"})
    EXPECT_FALSE(names.contains(name)) << name;
  EXPECT_EQ(names.removeDuplicates(), 0) << names.join(' ').toStdString();

  const QList<QObject*> forms{&form};
  EXPECT_FALSE(ResolveFormKey(forms, "TfmLangTest-ScrollLeftButton-Hint"));
  EXPECT_FALSE(ResolveFormKey(forms, "TfmLangTest-pcHelp-ScrollRightButton-Hint"));
  EXPECT_FALSE(ResolveFormKey(forms, "TfmLangTest-_q_qlineeditclearaction-Hint"));
  EXPECT_TRUE(ResolveFormKey(forms, "TfmLangTest-menuFmt-Caption"));
  EXPECT_TRUE(ResolveFormKey(forms, "TfmLangTest-pcHelp-tabHelp-labHelp-Caption"));

  TAppLanguage lang;
  lang.AddForm(&form);
  lang.SetComponentIncludes(lang.ComponentIncludes() + QStringList{"*-*-accessibleName"});
  const QString out = WriteLng("parts.lng", "");
  ASSERT_TRUE(lang.SaveAs(out));
  const TIniFile file(out);
  for (const auto& [key, value] : file.ReadSectionValues("Forms")) {
    EXPECT_FALSE(key.contains("Scroll")) << key.toStdString();
    EXPECT_FALSE(key.contains("_q_")) << key.toStdString();
  }
  EXPECT_EQ(file.ReadString("Forms", "TfmLangTest-menuFmt-Caption", ""), "Formats");
}

TEST_F(FormTranslate, AnActionsHintIsItsOwnToolTipOnly) {
  // Qt shows an action's text as its tool tip when it has none of its own;
  // that is no text of the form's, and a translated hint must not freeze it.
  TfmLangTest form;
  TAppLanguage lang;
  lang.AddForm(&form);
  const QString out = WriteLng("actions.lng", "");
  ASSERT_TRUE(lang.SaveAs(out));
  const TIniFile file(out);
  EXPECT_EQ(file.ReadString("Forms", "TfmLangTest-actAbout-Caption", ""), "&About...");
  EXPECT_FALSE(file.ValueExists("Forms", "TfmLangTest-actAbout-Hint"));
  EXPECT_FALSE(file.ValueExists("Forms", "TfmLangTest-N1-Hint"));
  EXPECT_EQ(file.ReadString("Forms", "TfmLangTest-actExit-Hint", ""), "Leave the program");

  Load(lang, WriteLng("hint.lng",
                      "[Forms]\nTfmLangTest-actAbout-Hint=Справка\n"
                      "TfmLangTest-actExit-Hint=Выйти из программы\n"));
  EXPECT_EQ(form.actAbout->toolTip(), QString::fromUtf8("Справка"));
  EXPECT_EQ(form.actExit->toolTip(), QString::fromUtf8("Выйти из программы"));
  lang.SetLoaded(false);
  EXPECT_EQ(form.actExit->toolTip(), "Leave the program");
  form.actAbout->setText("&Info");
  EXPECT_EQ(form.actAbout->toolTip(), "Info");
}

TEST_F(FormTranslate, AFormTranslatedAloneBeforeRegisteringComesBackToo) {
  TfmLangTest form;
  TAppLanguage lang;
  Load(lang, m_sFixture);
  lang.Translate(&form);
  EXPECT_EQ(form.windowTitle(), QString::fromUtf8("Тестовая форма"));
  EXPECT_EQ(lang.TranslateComponents(), QList<QObject*>({&form}));
  lang.SetLoaded(false);
  ExpectTexts(form, false);
}

TEST_F(FormTranslate, SaveAsLoadsBackToTheSameTexts) {
  TfmLangTest form;
  // Texts that only survive a file when escaped; the fixture leaves them be.
  const QString twoLines = "line one\nline two\\n \"x\"";
  form.rgTranMethod->setToolTip(twoLines);
  form.gridCols->horizontalHeaderItem(0)->setText("\"quoted\"");
  form.lstLog->item(0)->setText("C:\\dir\\");
  TAppLanguage lang;
  lang.AddForm(&form);
  lang.SetComponentIncludes(lang.ComponentIncludes() +
                            QStringList{"*-*-Items.Strings*", "*-gridCols-Columns*", "*-*-statusTip"});
  lang.SetComponentExcludes({"*-edtName-TextHint"});
  Load(lang, m_sFixture);  // translated texts, a two-line one among them

  const QString out = WriteLng("template.lng", "[Global]\nTitle=Kept\n[Forms]\nTfmOld-Caption=kept too\n");
  QString error;
  ASSERT_TRUE(lang.SaveAs(out, &error)) << error.toStdString();
  const TIniFile file(out);
  EXPECT_EQ(file.ReadString("Global", "Title", ""), "Kept");
  EXPECT_EQ(file.ReadString("Forms", "TfmOld-Caption", ""), "kept too");
  // Under the names translators write, once each.
  for (const char* key : {"TfmLangTest-Caption", "TfmLangTest-labPort-Caption", "TfmLangTest-labPort-Hint",
                          "TfmLangTest-edtName-Text", "TfmLangTest-rgTranMethod-Hint",
                          "TfmLangTest-rgTranMethod-Items.Strings(1)", "TfmLangTest-gridCols-Columns<0>.Caption",
                          "TfmLangTest-lstLog-Items.Strings(1)", "TfmLangTest-tvTree-Items.Strings(1)",
                          "TfmLangTest-tabM1K-Caption", "TfmLangTest-labPort-statusTip"})
    EXPECT_TRUE(file.ValueExists("Forms", key)) << key;
  for (const char* key : {"TfmLangTest-labPort-Text", "TfmLangTest-labPort-objectName",
                          "TfmLangTest-edtName-TextHint", "TfmLangTest-btnApply-statusTip",
                          "TfmLangTest-pnlTop-btnApply-Caption"})
    EXPECT_FALSE(file.ValueExists("Forms", key)) << key;
  EXPECT_EQ(file.ReadString("Forms", "TfmLangTest-labPort-Hint", ""), QString::fromUtf8("Порт\\nсчитывателя"));
  EXPECT_EQ(file.ReadString("Forms", "TfmLangTest-lstLog-Items.Strings(0)", "<none>"), "C:\\\\dir\\\\");
  // Every message, in order, the built-in text where the language has none.
  const QList<TIniFile::KeyValue> strings = file.ReadSectionValues("Strings");
  ASSERT_EQ(strings.size(), 28);
  EXPECT_EQ(strings.front().first, "Str1");
  EXPECT_EQ(strings.front().second, "Failed to open profile \"%s\".");
  EXPECT_EQ(strings.back().first, "Str30");

  // What the form shows now...
  std::map<QString, QString> shown;
  const QList<QObject*> forms{&form};
  for (const auto& [key, value] : file.ReadSectionValues("Forms"))
    if (auto t = ResolveFormKey(forms, key)) shown[key] = t->text.Get();
  EXPECT_GE(shown.size(), 20u);
  // ...comes back from the file onto the built-in form, escaped texts too.
  lang.SetLoaded(false);
  EXPECT_EQ(form.windowTitle(), "Test form");
  form.rgTranMethod->setToolTip("changed");
  form.gridCols->horizontalHeaderItem(0)->setText("changed");
  form.lstLog->item(0)->setText("changed");
  Load(lang, out);
  for (const auto& [key, value] : shown) {
    auto t = ResolveFormKey(forms, key);
    ASSERT_TRUE(t) << key.toStdString();
    EXPECT_EQ(t->text.Get(), value) << key.toStdString();
  }
  EXPECT_EQ(form.rgTranMethod->toolTip(), twoLines);
  EXPECT_EQ(form.Header(0), "\"quoted\"");
  EXPECT_EQ(form.lstLog->item(0)->text(), "C:\\dir\\");
  EXPECT_EQ(form.Radio(1), QString::fromUtf8("Копировать в буфер"));

  // A file that cannot be read is not overwritten.
  EXPECT_FALSE(lang.SaveAs(m_dir.path(), &error));
  EXPECT_FALSE(error.isEmpty());
}

TEST_F(FormTranslate, AMainWindowWithItsOwnPatterns) {
  TfmLangMain form;
  TAppLanguage lang;
  // Registered first at start, then its own patterns.
  lang.AddForm(&form);
  QStringList excludes = lang.ComponentExcludes();
  excludes << "*-N*-Caption";
  for (const char* name : {"cbPorts", "cbMULFmt", "cbM1kFmt", "cbHidFmt", "cbEmFmt", "cbICFmt", "cbExFmt",
                           "edtReplaces", "edtTemplate", "edtName"})
    excludes << QStringLiteral("*-%1-Text").arg(name);
  lang.SetComponentExcludes(excludes);
  lang.SetComponentIncludes(lang.ComponentIncludes() + QStringList{"*-rgTranMethod-Items.Strings*"});
  // Then it fills its lists and fields itself.
  form.cbPorts->addItems({"ttyUSB0", "ttyS0"});
  form.cbMULFmt->addItems({"Wiegand 26 (standard)"});
  form.edtName->setText("W26");
  form.edtTemplate->setText("%d");

  // The template holds the window's texts under flat keys, and none of the
  // program's own.
  const QString tmpl = WriteLng("main.lng", "");
  ASSERT_TRUE(lang.SaveAs(tmpl));
  const TIniFile file(tmpl);
  const std::map<QString, QString> expected = {
      {"TfmLangMain-Caption", "Sorvex"},
      {"TfmLangMain-grMain-Caption", "Reader"},
      {"TfmLangMain-rgTranMethod-Caption", "Transfer method"},
      {"TfmLangMain-rgTranMethod-Items.Strings(0)", "Imititsiya typing"},
      {"TfmLangMain-rgTranMethod-Items.Strings(1)", "Copy to Clipboard"},
      {"TfmLangMain-rbTyping-Caption", "Imititsiya typing"},
      {"TfmLangMain-rbClipboard-Caption", "Copy to Clipboard"},
      {"TfmLangMain-grFmtPan-Caption", "Formats"},
      {"TfmLangMain-tabMUL-Caption", "Mifare UL,DF"},
      {"TfmLangMain-tabM1K-Caption", "Mifare 1K/4K"},
      {"TfmLangMain-labName-Caption", "Name:"},
      {"TfmLangMain-actAbout-Caption", "&About..."},
      {"TfmLangMain-actExit-Caption", "E&xit"},
      {"TfmLangMain-menuTray-Caption", "Tray"},
      {"TfmLangMain-miFormats-Caption", "Formats"},
  };
  std::map<QString, QString> written;
  const QList<QObject*> forms{&form};
  for (const auto& [key, value] : file.ReadSectionValues("Forms")) {
    written[key] = value;
    EXPECT_TRUE(ResolveFormKey(forms, key)) << key.toStdString();
  }
  EXPECT_EQ(written, expected);

  // A radio button's text is reached both as the button's caption and as a
  // line of its group; whichever way a language set it, it comes back.
  Load(lang, WriteLng("radio.lng",
                      "[Forms]\nTfmLangMain-rgTranMethod-Items.Strings(1)=Буфер обмена\n"
                      "TfmLangMain-rbClipboard-Caption=В буфер\n"));
  EXPECT_EQ(form.Radio(1), QString::fromUtf8("В буфер"));
  lang.SetLoaded(false);
  EXPECT_EQ(form.Radio(1), "Copy to Clipboard");

  // A translation that names components through the widgets they sit in.
  Load(lang, WriteLng("ru.lng",
                      "[Forms]\n"
                      "TfmLangMain-Caption=Сорвекс\n"
                      "TfmLangMain-grFmtPan-PageControl1-tabMUL-Caption=Мифар UL,DF\n"
                      "TfmLangMain-grMain-rgTranMethod-Items.Strings(1)=Копировать в буфер\n"
                      "TfmLangMain-menuContext-miFormats-Caption=Форматы\n"
                      "TfmLangMain-actExit-Caption=В&ыход\n"
                      "TfmLangMain-grFmtPan-panFmtEdit-labName-Caption=Имя:\n"
                      "TfmLangMain-grFmtPan-panFmtEdit-edtTemplate-Text=шаблон\n"
                      "TfmLangMain-centralwidget-grFmtPan-edtName-Text=имя\n"
                      "TfmLangMain-menuTray-N1-Caption=-\n"));
  EXPECT_EQ(form.windowTitle(), QString::fromUtf8("Сорвекс"));
  EXPECT_EQ(form.PageControl1->tabText(0), QString::fromUtf8("Мифар UL,DF"));
  EXPECT_EQ(form.Radio(1), QString::fromUtf8("Копировать в буфер"));
  EXPECT_EQ(form.miFormats->title(), QString::fromUtf8("Форматы"));
  EXPECT_EQ(form.actExit->text(), QString::fromUtf8("В&ыход"));
  EXPECT_EQ(form.actExit->toolTip(), QString::fromUtf8("Выход"));
  EXPECT_EQ(form.labName->text(), QString::fromUtf8("Имя:"));
  EXPECT_EQ(form.edtTemplate->text(), "%d");
  EXPECT_EQ(form.edtName->text(), "W26");
  EXPECT_TRUE(form.N1->text().isEmpty());

  // The program changes its own texts while the language is loaded.
  form.cbMULFmt->clear();
  form.cbMULFmt->addItems({QString::fromUtf8("Виганд 26 (стандартный)")});
  form.labName->setText("Format name:");
  lang.SetLoaded(false);
  EXPECT_EQ(form.windowTitle(), "Sorvex");
  EXPECT_EQ(form.PageControl1->tabText(0), "Mifare UL,DF");
  EXPECT_EQ(form.Radio(1), "Copy to Clipboard");
  EXPECT_EQ(form.miFormats->title(), "Formats");
  EXPECT_EQ(form.actExit->text(), "E&xit");
  EXPECT_EQ(form.actExit->toolTip(), "Exit");
  EXPECT_EQ(form.labName->text(), "Format name:");
  EXPECT_EQ(form.cbMULFmt->itemText(0), QString::fromUtf8("Виганд 26 (стандартный)"));
  EXPECT_EQ(form.cbPorts->count(), 2);
}

}  // namespace

#include "FormTranslateTest.moc"
