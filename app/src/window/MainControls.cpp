// The main window's controls and menus, under the names that language files
// address them by.
#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTableWidget>
#include <QTextEdit>
#include <QToolButton>

#include <algorithm>

#include "MainForm.h"
#include "MainInternal.h"
#include "PageTabs.h"

namespace {

template <class T>
T* Named(QWidget* AParent, const char* AName) {
  T* w = new T(AParent);
  w->setObjectName(QLatin1String(AName));
  return w;
}

// Placed by ArrangeControls, from the width its text needs.
QLabel* Label(QWidget* AParent, const char* AName, const QString& AText) {
  QLabel* l = Named<QLabel>(AParent, AName);
  l->setText(AText);
  return l;
}

QLineEdit* ReadOnlyEdit(QWidget* AParent, const char* AName) {
  QLineEdit* e = Named<QLineEdit>(AParent, AName);
  e->setReadOnly(true);
  return e;
}

QAction* Action(QObject* AParent, const char* AName, const QString& AText) {
  auto* a = new QAction(AText, AParent);
  a->setObjectName(QLatin1String(AName));
  return a;
}

QAction* Separator(QMenu* AMenu, const char* AName) {
  QAction* a = AMenu->addSeparator();
  a->setObjectName(QLatin1String(AName));
  return a;
}

struct ClassInfo {
  const char* tab;
  const char* caption;
  const char* list;
  const char* std;
  const char* del;
  const char* label;
  const char* tabItem;
  const char* tabItemCaption;
};
const ClassInfo kClasses[kCvtFmtTypeCount] = {
    {"tabMUL", "Mifare UL,DF,DS", "cbMULFmt", "chkMULFmtStd", "btnDelMULFmt", "labMULFmt", "miTabMUL",
     "Mifare UL,DF"},
    {"tabM1K", "Mifare 1K/4K", "cbM1kFmt", "chkM1KFmtStd", "btnDelM1kFmt", "labM1kFmt", "miTabM1K", "Mifare 1K/4K"},
    {"tabHID", "HID", "cbHidFmt", "chkHidFmtStd", "btnDelHidFmt", "labHidFmt", "miTabHID", "HID"},
    {"tabEM", "Em-Marine", "cbEmFmt", "chkEmFmtStd", "btnDelEmFmt", "labEmFmt", "miTabEm", "Em-Marine"},
    {"tabIC", "iCode", "cbICFmt", "chkICFmtStd", "btnDelICFmt", "labICFmt", "miTabIC", "iCode"},
    {"tabEx", "Exclusive", "cbExFmt", "chkExFmtStd", "btnDelExFmt", "labExFmt", "miTabEx", "Exclusive"},
};

// The client area, and its left half; the format panel takes the rest.
constexpr int kClientWidth = 695;
constexpr int kClientHeight = 334;
constexpr int kMainWidth = 347;

// Between a label and its field, and between the rows of the format editor
// (as far as the rows leave room for it).
constexpr int kLabelGap = 4;
constexpr int kRowGap = 4;
constexpr int kTightRowGap = 2;
// The pages of the page control below its tabs: a format list and its
// delete button, the "Standard" check box under them.
constexpr int kPageHeight = 54;

// The widest text of some labels (or check boxes): their column's width.
int ColumnWidth(std::initializer_list<const QWidget*> AWidgets) {
  int w = 0;
  for (const QWidget* c : AWidgets) w = std::max(w, c->sizeHint().width());
  return w;
}

// A label at ALeft in its column of width AColumn, and its field from the
// column's end to ARight, on one row at AY of height AHeight (the label
// centred on it).
void LabelRow(QLabel* ALabel, QWidget* AField, int ALeft, int AColumn, int ARight, int AY, int AHeight) {
  const int labelHeight = ALabel->sizeHint().height();
  ALabel->setGeometry(ALeft, AY + (AHeight - labelHeight) / 2, AColumn, labelHeight);
  const int x = ALeft + AColumn + kLabelGap;
  AField->setGeometry(x, AY, ARight - x, AHeight);
}

// Between a byte's text and the lines of its cell, on every side.
constexpr int kCellRoom = 3;
// The grid's font is made no smaller than this to make room.
constexpr qreal kMinCellPointSize = 6;

// The widest text of a byte (two hexadecimal digits) in AFont.
int WidestByte(const QFontMetrics& AFont) {
  int widest = 0;
  for (int b = 0; b < 256; ++b)
    widest = std::max(widest, AFont.horizontalAdvance(QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper()));
  return widest;
}

// The byte grid's columns and rows share the whole of its inside, and its
// font leaves room around any byte in the narrowest cell. Sixteen columns of
// two digits leave little room in the window's font: hexadecimal digits line
// up, and take less room, in a fixed-pitch font of the same size, made
// smaller only where even that does not leave room.
void FitByteGrid(QTableWidget* AGrid) {
  const QRect inside = AGrid->contentsRect();
  const int columns = AGrid->columnCount(), rows = AGrid->rowCount();
  for (int c = 0; c < columns; ++c)
    AGrid->setColumnWidth(c, (c + 1) * inside.width() / columns - c * inside.width() / columns);
  for (int r = 0; r < rows; ++r)
    AGrid->setRowHeight(r, (r + 1) * inside.height() / rows - r * inside.height() / rows);
  // Each cell ends in its grid line.
  const int cellWidth = inside.width() / columns - 1, cellHeight = inside.height() / rows - 1;
  QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  font.setPointSizeF(QFontInfo(AGrid->font()).pointSizeF());
  for (;;) {
    const QFontMetrics metrics(font);
    if ((WidestByte(metrics) + 2 * kCellRoom <= cellWidth && metrics.height() + 2 * kCellRoom <= cellHeight) ||
        font.pointSizeF() - 0.5 < kMinCellPointSize)
      break;
    font.setPointSizeF(font.pointSizeF() - 0.5);
  }
  AGrid->setFont(font);
}

}  // namespace

void TfmMain::CreateControls() {
  setFixedSize(kClientWidth, kClientHeight);

  // The left half: port, transfer method, the last transfer, port data.
  grMain = Named<QGroupBox>(this, "grMain");
  grMain->setGeometry(0, 0, kMainWidth, kClientHeight);
  chkEnabled = Named<QCheckBox>(grMain, "chkEnabled");
  chkEnabled->setText(QStringLiteral("Port:"));
  cbPorts = Named<QComboBox>(grMain, "cbPorts");
  cbPorts->setEditable(true);
  cbPorts->setInsertPolicy(QComboBox::NoInsert);
  btnUpdPortsList = Named<QToolButton>(grMain, "btnUpdPortsList");
  btnUpdPortsList->setIcon(WindowImage(imgRefresh));
  btnUpdPortsList->setToolTip(QStringLiteral("Refresh the port list"));
  labMenu = Named<QLabel>(grMain, "labMenu");
  labMenu->setText(QStringLiteral("<a href=\"menu\">menu</a>"));
  // A stop of Tab, so that the window's menu is reached without a mouse:
  // Space or Return on it opens the menu (eventFilter). Its own menu (to
  // copy the link) would only stand in the way of the window's.
  labMenu->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
  labMenu->setFocusPolicy(Qt::TabFocus);
  labMenu->setContextMenuPolicy(Qt::NoContextMenu);
  labMenu->installEventFilter(this);
  btnShowFmtPan = Named<QPushButton>(grMain, "btnShowFmtPan");
  btnShowFmtPan->setText(QStringLiteral("<<"));
  btnShowFmtPan->setGeometry(307, 14, 32, 24);

  rgTranMethod = Named<QGroupBox>(grMain, "rgTranMethod");
  rgTranMethod->setTitle(QStringLiteral("Transfer method"));
  rgTranMethod->setGeometry(8, 44, 331, 48);
  m_tranItems[0] = new QRadioButton(QStringLiteral("Imititsiya typing"), rgTranMethod);
  m_tranItems[1] = new QRadioButton(QStringLiteral("Copy to Clipboard"), rgTranMethod);

  grLastTrans = Named<QGroupBox>(grMain, "grLastTrans");
  grLastTrans->setTitle(QStringLiteral("Last transfer"));
  grLastTrans->setGeometry(8, 96, 331, 176);
  labCardTip = Label(grLastTrans, "labCardTip", QStringLiteral("Card:"));
  edtCardTip = ReadOnlyEdit(grLastTrans, "edtCardTip");
  gridBytes = Named<QTableWidget>(grLastTrans, "gridBytes");
  gridBytes->setGeometry(8, 46, 315, 46);
  gridBytes->setRowCount(2);
  gridBytes->setColumnCount(16);
  gridBytes->horizontalHeader()->hide();
  gridBytes->verticalHeader()->hide();
  gridBytes->horizontalHeader()->setMinimumSectionSize(10);
  gridBytes->verticalHeader()->setMinimumSectionSize(10);
  gridBytes->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  gridBytes->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  gridBytes->setEditTriggers(QAbstractItemView::NoEditTriggers);
  gridBytes->setSelectionMode(QAbstractItemView::NoSelection);
  gridBytes->setFocusPolicy(Qt::NoFocus);
  gridBytes->setTextElideMode(Qt::ElideNone);
  gridBytes->setWordWrap(false);
  gridBytes->setStyleSheet(QStringLiteral("QTableWidget::item { padding: 0px; }"));
  for (int r = 0; r < 2; ++r) {
    for (int c = 0; c < 16; ++c) {
      auto* item = new QTableWidgetItem;
      item->setTextAlignment(Qt::AlignCenter);  // every cell centred both ways
      if (r == 0) item->setBackground(palette().button());
      gridBytes->setItem(r, c, item);
    }
  }
  FitByteGrid(gridBytes);
  labLastFmt = Label(grLastTrans, "labLastFmt", QStringLiteral("Format:"));
  edtLastFmt = ReadOnlyEdit(grLastTrans, "edtLastFmt");
  labTrans = Label(grLastTrans, "labTrans", QStringLiteral("Sent:"));
  edtTrans = Named<QTextEdit>(grLastTrans, "edtTrans");
  edtTrans->setReadOnly(true);
  edtTrans->setAcceptRichText(false);
  edtTrans->setLineWrapMode(QTextEdit::NoWrap);
  edtTrans->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  labWindow = Label(grLastTrans, "labWindow", QStringLiteral("Window:"));
  edtWindow = ReadOnlyEdit(grLastTrans, "edtWindow");

  grPortData = Named<QGroupBox>(grMain, "grPortData");
  grPortData->setTitle(QStringLiteral("Port data"));
  grPortData->setGeometry(8, 276, 331, 52);
  edtPortOutput = ReadOnlyEdit(grPortData, "edtPortOutput");
  edtPortOutput->setGeometry(8, 22, 315, 22);

  // The right half: the format panel.
  grFmtPan = Named<QGroupBox>(this, "grFmtPan");
  grFmtPan->setTitle(QStringLiteral("Format"));
  grFmtPan->setGeometry(kMainWidth, 0, kClientWidth - kMainWidth, kClientHeight);
  SpeedButton1 = Named<QToolButton>(grFmtPan, "SpeedButton1");
  SpeedButton1->setText(QStringLiteral("<<"));
  SpeedButton1->setGeometry(312, 2, 30, 18);
  // Its tabs wrap onto as many rows as they need.
  PageControl1 = new TPageControl(grFmtPan);
  PageControl1->setObjectName(QStringLiteral("PageControl1"));
  PageControl1->setContextMenuPolicy(Qt::CustomContextMenu);
  for (int c = 0; c < kCvtFmtTypeCount; ++c) {
    const ClassInfo& info = kClasses[c];
    ClassControls& cls = m_classes[c];
    cls.tab = Named<QWidget>(PageControl1, info.tab);
    PageControl1->addTab(cls.tab, QLatin1String(info.caption));
    cls.label = Label(cls.tab, info.label, QStringLiteral("Format:"));
    cls.list = Named<QComboBox>(cls.tab, info.list);
    cls.del = Named<QToolButton>(cls.tab, info.del);
    cls.del->setIcon(WindowImage(imgDelete));
    cls.del->setGeometry(262, 6, 24, 24);
    cls.std = Named<QCheckBox>(cls.tab, info.std);
    cls.std->setText(QStringLiteral("Standard"));
  }

  panFmtEdit = Named<QWidget>(grFmtPan, "panFmtEdit");
  labName = Label(panFmtEdit, "labName", QStringLiteral("Name:"));
  edtName = Named<QLineEdit>(panFmtEdit, "edtName");
  labHint = Label(panFmtEdit, "labHint", QStringLiteral("Comment:"));
  edtHint = Named<QPlainTextEdit>(panFmtEdit, "edtHint");
  // A comment of several lines, but a field like the others for the
  // keyboard: Tab moves on rather than typing a tab into the comment.
  edtHint->setTabChangesFocus(true);
  labTemplate = Label(panFmtEdit, "labTemplate", QStringLiteral("Template:"));
  edtTemplate = Named<QLineEdit>(panFmtEdit, "edtTemplate");
  labReplaces = Label(panFmtEdit, "labReplaces", QStringLiteral("Parameters:"));
  edtReplaces = Named<QLineEdit>(panFmtEdit, "edtReplaces");
  btnApplyFmt = Named<QPushButton>(panFmtEdit, "btnApplyFmt");
  btnApplyFmt->setText(QStringLiteral("Apply"));
  btnApplyFmt->setEnabled(false);

  labDefCmt = Label(grFmtPan, "labDefCmt", QStringLiteral("Default format:"));
  cbDefCmt = Named<QComboBox>(grFmtPan, "cbDefCmt");
  cbDefCmt->addItems({QStringLiteral("none"), QStringLiteral("Mifare UL,DF"), QStringLiteral("Mifare 1K/4K"),
                      QStringLiteral("HID"), QStringLiteral("Em-Marine"), QStringLiteral("iCode"),
                      QStringLiteral("Exclusive")});

  labProfile = Label(grFmtPan, "labProfile", QStringLiteral("Profile:"));
  cbUsrProfile = Named<QComboBox>(grFmtPan, "cbUsrProfile");
  btnNewProfile = Named<QToolButton>(grFmtPan, "btnNewProfile");
  btnNewProfile->setIcon(WindowImage(imgNew));
  btnNewProfile->setToolTip(QStringLiteral("Create a new profile"));
  btnDelProfile = Named<QToolButton>(grFmtPan, "btnDelProfile");
  btnDelProfile->setIcon(WindowImage(imgDelete));
  btnDelProfile->setToolTip(QStringLiteral("Delete the current profile"));
  labStatus = Named<QLabel>(this, "labStatus");
  labStatus->setWordWrap(true);
  labStatus->setTextFormat(Qt::PlainText);
  labStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);  // a path can be copied
  labStatus->hide();
  connect(btnDelProfile, &QToolButton::clicked, this, [this] { btnDelProfileClick(); });
  connect(btnNewProfile, &QToolButton::clicked, this, [this] { btnNewProfileClick(); });
  cbUsrProfile->installEventFilter(this);
  ArrangeControls();

  // What the controls do.
  connect(chkEnabled, &QCheckBox::clicked, this, [this] { chkEnabledClick(); });
  connect(cbPorts, &QComboBox::currentTextChanged, this, [this] { cbPortsChange(); });
  connect(btnUpdPortsList, &QToolButton::clicked, this, [this] { UpdatePortList(); });
  connect(labMenu, &QLabel::linkActivated, this, [this] { labMenuLinkClick(); });
  connect(btnShowFmtPan, &QPushButton::clicked, this, [this] { btnShowFmtPanClick(); });
  connect(SpeedButton1, &QToolButton::clicked, this, [this] { btnShowFmtPanClick(); });
  for (QRadioButton* item : m_tranItems)
    connect(item, &QRadioButton::toggled, this, [this](bool on) {
      if (on) rgTranMethodClick();
    });
  using Handler = void (TfmMain::*)();
  struct ClassHandlers {
    Handler change, stdClick, delClick;
    void (TfmMain::*keyPress)(char16_t);
  };
  static const ClassHandlers kHandlers[kCvtFmtTypeCount] = {
      {&TfmMain::cbMULFmtChange, &TfmMain::chkMULFmtStdClick, &TfmMain::btnDelMULFmtClick,
       &TfmMain::cbMULFmtKeyPress},
      {&TfmMain::cbM1kFmtChange, &TfmMain::chkM1KFmtStdClick, &TfmMain::btnDelM1kFmtClick,
       &TfmMain::cbM1kFmtKeyPress},
      {&TfmMain::cbHidFmtChange, &TfmMain::chkHidFmtStdClick, &TfmMain::btnDelHidFmtClick,
       &TfmMain::cbHidFmtKeyPress},
      {&TfmMain::cbEmFmtChange, &TfmMain::chkEmFmtStdClick, &TfmMain::btnDelEmFmtClick, &TfmMain::cbEmFmtKeyPress},
      {&TfmMain::cbICFmtChange, &TfmMain::chkICFmtStdClick, &TfmMain::btnDelICFmtClick, &TfmMain::cbICFmtKeyPress},
      {&TfmMain::cbExFmtChange, &TfmMain::chkExFmtStdClick, &TfmMain::btnDelExFmtClick, &TfmMain::cbExFmtKeyPress},
  };
  for (int c = 0; c < kCvtFmtTypeCount; ++c) {
    const ClassHandlers& h = kHandlers[c];
    ClassControls& cls = m_classes[c];
    connect(cls.list, &QComboBox::activated, this, h.change);
    connect(cls.std, &QCheckBox::toggled, this, h.stdClick);
    connect(cls.del, &QToolButton::clicked, this, h.delClick);
    // Keys pressed in a list reach its key handler (see eventFilter).
    cls.keyPress = h.keyPress;
    cls.list->installEventFilter(this);
  }
  connect(edtName, &QLineEdit::textChanged, this, &TfmMain::edtNameChange);
  connect(edtHint, &QPlainTextEdit::textChanged, this, &TfmMain::edtHintChange);
  connect(edtTemplate, &QLineEdit::textChanged, this, &TfmMain::edtTemplateChange);
  connect(edtReplaces, &QLineEdit::textChanged, this, &TfmMain::edtReplacesChange);
  connect(btnApplyFmt, &QPushButton::clicked, this, &TfmMain::btnApplyFmtClick);
  connect(cbDefCmt, &QComboBox::currentIndexChanged, this, [this] { cbDefCmtChange(); });
  connect(cbUsrProfile, &QComboBox::activated, this, [this] { cbUsrProfileChange(); });
  connect(PageControl1, &QTabWidget::currentChanged, this, [this](int index) { PageControl1Change(index); });
  connect(PageControl1, &QTabWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    menuTabsPopup();
    menuTabs->popup(PageControl1->mapToGlobal(at));
  });
}

void TfmMain::ArrangeControls() {
  // The left half. The port row: the port's check box as wide as its text,
  // the menu link and the panel button at the right end, the list between.
  chkEnabled->setGeometry(8, 14, chkEnabled->sizeHint().width(), 24);
  const int menuWidth = labMenu->sizeHint().width();
  labMenu->setGeometry(btnShowFmtPan->x() - 5 - menuWidth, 18, menuWidth, 18);
  btnUpdPortsList->setGeometry(labMenu->x() - 10 - 24, 14, 24, 24);
  const int portsX = chkEnabled->geometry().right() + 1 + kLabelGap;
  cbPorts->setGeometry(portsX, 14, btnUpdPortsList->x() - kLabelGap - portsX, 24);

  // The two methods side by side, the second one at its usual place when
  // the first leaves room for it, and never beyond the group.
  const int first = m_tranItems[0]->sizeHint().width(), second = m_tranItems[1]->sizeHint().width();
  m_tranItems[0]->setGeometry(10, 20, first, 22);
  const int secondX = std::min(std::max(170, 10 + first + 10), rgTranMethod->width() - 8 - second);
  m_tranItems[1]->setGeometry(secondX, 20, second, 22);

  // The last transfer: one column of labels, the fields after it.
  const int lastColumn = ColumnWidth({labCardTip, labLastFmt, labTrans, labWindow});
  const int lastRight = grLastTrans->width() - 8;
  LabelRow(labCardTip, edtCardTip, 8, lastColumn, lastRight, 20, 22);
  LabelRow(labLastFmt, edtLastFmt, 8, lastColumn, lastRight, 98, 22);
  LabelRow(labTrans, edtTrans, 8, lastColumn, lastRight, 124, 24);
  LabelRow(labWindow, edtWindow, 8, lastColumn, lastRight, 150, 22);

  // The format panel, top down: the pages under as many rows of tabs as
  // their texts need...
  const int panelWidth = grFmtPan->width() - 16;
  // The rows are laid out for the page control's width: that first.
  PageControl1->setGeometry(8, SpeedButton1->geometry().bottom() + 2, panelWidth, PageControl1->height());
  const int tabsHeight = PageControl1->PageTabBar()->sizeHint().height();
  PageControl1->setGeometry(8, PageControl1->y(), panelWidth, tabsHeight + kPageHeight);
  for (ClassControls& cls : m_classes) {
    const int column = cls.label->sizeHint().width();
    LabelRow(cls.label, cls.list, 6, column, cls.del->x() - kLabelGap, 6, 24);
    cls.std->setGeometry(cls.list->x(), 32, cls.std->sizeHint().width(), 20);
  }
  // ...the profile row and the default format at the bottom...
  const int rowsColumn = ColumnWidth({labDefCmt, labProfile});
  const int profileY = grFmtPan->height() - 6 - 24;
  LabelRow(labProfile, cbUsrProfile, 8, rowsColumn, 284, profileY, 24);
  btnNewProfile->setGeometry(288, profileY, 24, 24);
  btnDelProfile->setGeometry(316, profileY, 24, 24);
  const int defY = profileY - kRowGap - 24;
  LabelRow(labDefCmt, cbDefCmt, 8, rowsColumn, 8 + panelWidth, defY, 24);
  // ...and the editor between them, the comment taking what the other rows
  // leave (at least two lines: the rows move closer when it would be less).
  const int editTop = PageControl1->geometry().bottom() + 1 + kTightRowGap;
  panFmtEdit->setGeometry(8, editTop, panelWidth, defY - kRowGap - editTop);
  const int editHeight = panFmtEdit->height();
  const int applyHeight = std::max(26, btnApplyFmt->sizeHint().height());
  const QFontMetrics hintFont(edtHint->font());
  const int twoLines =
      2 * hintFont.lineSpacing() + 2 * int(edtHint->document()->documentMargin()) + 2 * edtHint->frameWidth();
  int gap = kRowGap;
  if (editHeight - 3 * 22 - applyHeight - 4 * gap - 2 < twoLines) gap = kTightRowGap;
  const int editColumn = ColumnWidth({labName, labHint, labTemplate, labReplaces});
  const int applyY = editHeight - applyHeight;
  const int replacesY = applyY - gap - 2 - 22;
  const int templateY = replacesY - gap - 22;
  LabelRow(labName, edtName, 0, editColumn, panelWidth, 0, 22);
  LabelRow(labTemplate, edtTemplate, 0, editColumn, panelWidth, templateY, 22);
  LabelRow(labReplaces, edtReplaces, 0, editColumn, panelWidth, replacesY, 22);
  const int hintY = 22 + gap;
  LabelRow(labHint, edtHint, 0, editColumn, panelWidth, hintY, templateY - gap - hintY);
  // Its label stands at the first line, not in the middle of the box.
  labHint->move(0, hintY + (22 - labHint->height()) / 2);
  const int applyWidth = std::max(80, btnApplyFmt->sizeHint().width());
  btnApplyFmt->setGeometry(panelWidth - applyWidth, applyY, applyWidth, applyHeight);
}

void TfmMain::ArrangeStatus() {
  constexpr int kMargin = 8, kGap = 4;
  int height = 0;
  if (labStatus->isVisibleTo(this)) {
    const int width = this->width() - 2 * kMargin;
    height = labStatus->heightForWidth(width);
    labStatus->setGeometry(kMargin, kClientHeight + kGap, width, height);
    height += 2 * kGap;
  }
  setFixedHeight(kClientHeight + height);
}

void TfmMain::CreateMenus() {
  // The actions.
  actAutorun = Action(this, "actAutorun", QStringLiteral("Autorun"));
  actTopMost = Action(this, "actTopMost", QStringLiteral("Always on top"));
  actOnlyOneInstance = Action(this, "actOnlyOneInstance", QStringLiteral("Only one Instance"));
  actShowTransFmtPar = Action(this, "actShowTransFmtPar", QStringLiteral("Show the format parameters with the transfer"));
  actTransLog = Action(this, "actTransLog", QStringLiteral("Write log transfer card numbers"));
  actSettings = Action(this, "actSettings", QStringLiteral("Settings..."));
  actHelpContent = Action(this, "actHelpContent", QStringLiteral("Content"));
  actHelpContent->setShortcut(Qt::Key_F1);
  actHelpAbout = Action(this, "actHelpAbout", QStringLiteral("About..."));
  actExit = Action(this, "actExit", QStringLiteral("E&xit"));
  for (QAction* a : {actAutorun, actTopMost, actOnlyOneInstance, actShowTransFmtPar, actTransLog})
    a->setCheckable(true);
  connect(actAutorun, &QAction::triggered, this, [this] { actAutorunExecute(); });
  connect(actTopMost, &QAction::triggered, this, [this] { actTopMostExecute(); });
  connect(actOnlyOneInstance, &QAction::triggered, this, [this] { actOnlyOneInstanceExecute(); });
  connect(actShowTransFmtPar, &QAction::triggered, this, [this] { actShowTransFmtParExecute(); });
  connect(actTransLog, &QAction::triggered, this, [this] { actTransLogExecute(); });
  connect(actSettings, &QAction::triggered, this, [this] { actSettingsExecute(); });
  connect(actHelpAbout, &QAction::triggered, this, [this] { DoAbout(); });
  connect(actExit, &QAction::triggered, this, [this] { Exit(); });
  connect(actHelpContent, &QAction::triggered, this, [this] { ShowHelp(); });

  // The window's context menu. The items of the actions are the actions
  // themselves (Qt shows an action in a menu as it is): their texts are
  // translated under the actions' names.
  menuContext = Named<QMenu>(this, "menuContext");
  miEnable = Action(menuContext, "miEnable", QStringLiteral("Enable"));
  menuContext->addAction(miEnable);
  Separator(menuContext, "miSep1");
  menuContext->addAction(actSettings);
  Separator(menuContext, "N1");
  menuContext->addAction(actAutorun);
  menuContext->addAction(actTopMost);
  menuContext->addAction(actOnlyOneInstance);
  miLanguages = Named<QMenu>(menuContext, "miLanguages");
  miLanguages->setTitle(QStringLiteral("Languages"));
  menuContext->addMenu(miLanguages);
  miLangDefault = Action(miLanguages, "miLangDefault", QStringLiteral("default (English)"));
  miLangDefault->setCheckable(true);
  auto* langGroup = new QActionGroup(miLanguages);
  langGroup->setObjectName(QStringLiteral("qt_langGroup"));
  langGroup->addAction(miLangDefault);
  miLanguages->addAction(miLangDefault);
  // The built-in language is picked like any other.
  connect(miLangDefault, &QAction::triggered, this, [this] { miLangClick(-1); });
  Separator(menuContext, "miSep2");
  QMenu* help = Named<QMenu>(menuContext, "Help1");
  help->setTitle(QStringLiteral("Help"));
  menuContext->addMenu(help);
  help->addAction(actHelpContent);
  Separator(help, "miSep3");
  help->addAction(actHelpAbout);
  Separator(menuContext, "miSep4");
  menuContext->addAction(actShowTransFmtPar);
  menuContext->addAction(actTransLog);
  Separator(menuContext, "miSep5");
  menuContext->addAction(actExit);
  connect(menuContext, &QMenu::aboutToShow, this, [this] { menuContextPopup(); });
  connect(miEnable, &QAction::triggered, this, [this] { miEnable2Click(); });
  // A request for a menu on the window reaches contextMenuEvent.

  // The tray icon and its menu.
  menuTray = Named<QMenu>(this, "menuTray");
  miEnable2 = Action(menuTray, "miEnable2", QStringLiteral("Enable"));
  menuTray->addAction(miEnable2);
  Separator(menuTray, "miSep6");
  QMenu* std = Named<QMenu>(menuTray, "submenuSFmts");
  std->setTitle(QStringLiteral("Standard formats"));
  QMenu* own = Named<QMenu>(menuTray, "submenuUFmts");
  own->setTitle(QStringLiteral("Custom formats"));
  menuTray->addMenu(std);
  menuTray->addMenu(own);
  static const char* const kSub[kCvtFmtTypeCount][3] = {
      {"submenuSMUL", "submenuUMUL", "Mifare UltraLight"}, {"submenuSM1K", "submenuUM1K", "Mifare 1K"},
      {"submenuSHID", "submenuUHID", "HID"},               {"submenuSEMM", "submenuUEMM", "Em-Marine"},
      {"submenuSIC", "submenuUIC", "iCode"},               {"submenuSEX", "submenuUEX", "Exclusive"}};
  for (int c = 0; c < kCvtFmtTypeCount; ++c) {
    const auto& sub = kSub[c];
    for (int kind = 0; kind < 2; ++kind) {
      QMenu* m = Named<QMenu>(kind == 0 ? std : own, sub[kind]);
      m_fmtSubmenus[kind == 0 ? 1 : 0][c] = m;
      m->setToolTipsVisible(true);
      m->setTitle(QLatin1String(sub[2]));
      (kind == 0 ? std : own)->addMenu(m);
      // A hidden first item keeps the submenu a submenu while it lists nothing.
      QAction* placeholder = m->addAction(QString());
      placeholder->setVisible(false);
      m->setEnabled(false);
    }
  }
  Separator(menuTray, "miSep7");
  QAction* exit2 = Action(menuTray, "miExit2", actExit->text());
  connect(exit2, &QAction::triggered, actExit, &QAction::trigger);
  menuTray->addAction(exit2);
  connect(menuTray, &QMenu::aboutToShow, this, [this] { menuTrayPopup(); });
  connect(miEnable2, &QAction::triggered, this, [this] { miEnable2Click(); });

  TrayIcon1 = new QSystemTrayIcon(this);
  TrayIcon1->setObjectName(QStringLiteral("TrayIcon1"));
  TrayIcon1->setToolTip(QStringLiteral("Sorvex: card numbers as keystrokes"));
  TrayIcon1->setContextMenu(menuTray);
  connect(TrayIcon1, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason why) {
    if (why == QSystemTrayIcon::Trigger) TrayIcon1Click();
  });

  // The page menu.
  menuTabs = Named<QMenu>(this, "menuTabs");
  for (int c = 0; c < kCvtFmtTypeCount; ++c) {
    QAction* item = Action(menuTabs, kClasses[c].tabItem, QLatin1String(kClasses[c].tabItemCaption));
    item->setCheckable(true);
    menuTabs->addAction(item);
    m_classes[c].tabItem = item;
    const auto tip = TCvtFmtType(c);
    connect(item, &QAction::triggered, this, [this, tip] { TabItemClick(tip); });
  }
}
