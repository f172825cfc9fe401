#include "FormTexts.h"

#include <QAbstractButton>
#include <QAbstractItemModel>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QAction>
#include <QCalendarWidget>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeySequenceEdit>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMetaProperty>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTextEdit>
#include <QTreeView>
#include <QTreeWidget>
#include <QWidget>

#include <utility>

namespace {

bool SameName(QStringView a, QStringView b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

bool IsComponent(const QObject* o) {
  const QString name = o->objectName();
  return !name.isEmpty() && !name.startsWith(QLatin1String("qt_"));
}

// A window inside a form (a dialog it opened) belongs to no component list;
// popup menus are part of the form all the same.
bool IsOtherWindow(const QObject* o) {
  const auto* w = qobject_cast<const QWidget*>(o);
  return w && w->isWindow() && !qobject_cast<const QMenu*>(w);
}

// Only containers hold a form's components, as in any form designer: the
// form, panels, group boxes, tab and stacked pages, scroll areas, splitters,
// menus, tool bars. A control is built by Qt from parts of its own (a tab
// bar's scroll buttons, a line edit's clear action, a spin box's edit field),
// some of them named; those are none of the form's, and two tab widgets would
// give two components of one name.
bool IsControl(const QObject* o) {
  return qobject_cast<const QAbstractButton*>(o) || qobject_cast<const QTabBar*>(o) ||
         qobject_cast<const QLineEdit*>(o) || qobject_cast<const QComboBox*>(o) ||
         qobject_cast<const QAbstractSpinBox*>(o) || qobject_cast<const QAbstractSlider*>(o) ||
         qobject_cast<const QLabel*>(o) || qobject_cast<const QProgressBar*>(o) ||
         qobject_cast<const QAbstractItemView*>(o) || qobject_cast<const QTextEdit*>(o) ||
         qobject_cast<const QPlainTextEdit*>(o) || qobject_cast<const QKeySequenceEdit*>(o) ||
         qobject_cast<const QCalendarWidget*>(o) || qobject_cast<const QDialogButtonBox*>(o);
}

void CollectComponents(QObject* AParent, QList<QObject*>& AOut) {
  const bool control = IsControl(AParent);
  for (QObject* c : AParent->children()) {
    if (IsOtherWindow(c)) continue;
    // A pop-up menu a control carries is the program's, not Qt's.
    if (control && !qobject_cast<QMenu*>(c)) continue;
    if (IsComponent(c)) AOut.append(c);
    CollectComponents(c, AOut);
  }
}

// The tab widget that shows APage as one of its tabs.
QTabWidget* TabOwner(QObject* APage) {
  auto* page = qobject_cast<QWidget*>(APage);
  if (!page) return nullptr;
  for (QWidget* p = page->parentWidget(); p; p = p->parentWidget()) {
    if (auto* tabs = qobject_cast<QTabWidget*>(p)) return tabs->indexOf(page) >= 0 ? tabs : nullptr;
    if (p->isWindow()) break;
  }
  return nullptr;
}

QList<QRadioButton*> RadioItems(QObject* AObject) {
  auto* box = qobject_cast<QGroupBox*>(AObject);
  return box ? box->findChildren<QRadioButton*>() : QList<QRadioButton*>();
}

// Node N of a tree counted over all nodes, depth first.
QTreeWidgetItem* TreeNodeAt(QTreeWidget* ATree, int AIndex) {
  int n = 0;
  for (QTreeWidgetItemIterator it(ATree); *it; ++it)
    if (n++ == AIndex) return *it;
  return nullptr;
}

int TreeNodeCount(QTreeWidget* ATree) {
  int n = 0;
  for (QTreeWidgetItemIterator it(ATree); *it; ++it) ++n;
  return n;
}

QAbstractItemModel* HeaderModel(QObject* AObject) {
  if (auto* table = qobject_cast<QTableView*>(AObject)) return table->model();
  if (auto* tree = qobject_cast<QTreeView*>(AObject)) return tree->model();
  return nullptr;
}

int ColumnCount(QObject* AObject) {
  QAbstractItemModel* model = HeaderModel(AObject);
  return model ? model->columnCount() : -1;
}

// A readable, writable string property of that name (any case), not the
// component's name.
QByteArray StringProperty(const QObject* AObject, QStringView AName) {
  const QMetaObject* meta = AObject->metaObject();
  for (int i = 0; i < meta->propertyCount(); ++i) {
    const QMetaProperty p = meta->property(i);
    if (p.metaType().id() != QMetaType::QString || !p.isReadable() || !p.isWritable()) continue;
    const QString name = QString::fromLatin1(p.name());
    if (name == u"objectName") continue;
    if (SameName(name, AName)) return QByteArray(p.name());
  }
  return QByteArray();
}

// An action without a tool tip of its own answers its text (without "&" and
// "...") as one; a plain action with the same texts shows what that looks like.
bool HasOwnToolTip(const QAction* AAction) {
  QAction plain(AAction->text());
  plain.setIconText(AAction->iconText());
  return AAction->toolTip() != plain.toolTip();
}

TFormText PropertyTextOf(QObject* AObject, const QByteArray& AProp) {
  // The tool tip an action makes up from its text is no text of the form's:
  // it must be neither written as a hint nor frozen by restoring one.
  if (AProp == "toolTip" && qobject_cast<QAction*>(AObject))
    return TFormText(AObject, TFormText::ActionToolTip, AProp, -1);
  return TFormText(AObject, TFormText::Property, AProp, -1);
}

std::optional<TFormText> PropertyText(QObject* AObject, QStringView AName) {
  const QByteArray prop = StringProperty(AObject, AName);
  if (prop.isEmpty()) return std::nullopt;
  return PropertyTextOf(AObject, prop);
}

// The lines of an object's "Items" list; none when it has no list. A radio
// group's line is its button's own text, so that the line and the button's
// Caption are one text, which a language changes and restores as one.
QList<TFormText> ItemTexts(QObject* AObject) {
  QList<TFormText> out;
  auto lines = [&](TFormText::Kind AKind, int ACount) {
    for (int i = 0; i < ACount; ++i) out.append(TFormText(AObject, AKind, {}, i));
  };
  if (auto* combo = qobject_cast<QComboBox*>(AObject))
    lines(TFormText::ComboItem, combo->count());
  else if (auto* list = qobject_cast<QListWidget*>(AObject))
    lines(TFormText::ListItem, list->count());
  else if (auto* tree = qobject_cast<QTreeWidget*>(AObject))
    lines(TFormText::TreeNode, TreeNodeCount(tree));
  else
    for (QRadioButton* radio : RadioItems(AObject)) out.append(PropertyTextOf(radio, "text"));
  return out;
}

std::optional<TFormText> CaptionText(QObject* AObject, bool AIsForm) {
  if (AIsForm) return qobject_cast<QWidget*>(AObject) ? PropertyText(AObject, u"windowTitle") : std::nullopt;
  if (TabOwner(AObject)) return TFormText(AObject, TFormText::TabText, {}, -1);
  if (qobject_cast<QGroupBox*>(AObject) || qobject_cast<QMenu*>(AObject)) return PropertyText(AObject, u"title");
  if (qobject_cast<QAbstractButton*>(AObject) || qobject_cast<QLabel*>(AObject) || qobject_cast<QAction*>(AObject))
    return PropertyText(AObject, u"text");
  return std::nullopt;
}

std::optional<TFormText> AliasText(QObject* AObject, QStringView AName, bool AIsForm) {
  if (SameName(AName, u"Caption")) return CaptionText(AObject, AIsForm);
  if (SameName(AName, u"Hint")) return PropertyText(AObject, u"toolTip");
  if (SameName(AName, u"Text")) return PropertyText(AObject, u"text");
  if (SameName(AName, u"TextHint")) return PropertyText(AObject, u"placeholderText");
  return PropertyText(AObject, AName);
}

// "Name(N)" or "Name<N>": the name and N; false when the part has no such
// index or the index is not a plain decimal number.
bool SplitIndexed(QStringView APart, QChar AOpen, QChar AClose, QStringView* AName, int* AIndex) {
  const qsizetype open = APart.indexOf(AOpen);
  if (open < 0 || !APart.endsWith(AClose)) return false;
  const QStringView digits = APart.sliced(open + 1, APart.size() - open - 2);
  if (digits.isEmpty() || digits.size() > 9) return false;
  for (QChar c : digits)
    if (c < u'0' || c > u'9') return false;
  *AName = APart.first(open);
  *AIndex = digits.toInt();
  return true;
}

}  // namespace

TFormText::TFormText(QObject* AObject, Kind AKind, QByteArray AProperty, int AIndex)
    : m_obj(AObject), m_raw(AObject), m_kind(AKind), m_prop(std::move(AProperty)), m_index(AIndex) {}

QString TFormText::Get() const {
  QObject* o = m_obj.data();
  if (!o) return QString();
  switch (m_kind) {
    case Property:
      return o->property(m_prop.constData()).toString();
    case ActionToolTip:
      if (auto* action = static_cast<QAction*>(o); HasOwnToolTip(action)) return action->toolTip();
      return QString();
    case TabText:
      if (QTabWidget* tabs = TabOwner(o)) return tabs->tabText(tabs->indexOf(static_cast<QWidget*>(o)));
      return QString();
    case ComboItem:
      return static_cast<QComboBox*>(o)->itemText(m_index);
    case ListItem:
      if (QListWidgetItem* item = static_cast<QListWidget*>(o)->item(m_index)) return item->text();
      return QString();
    case TreeNode:
      if (QTreeWidgetItem* node = TreeNodeAt(static_cast<QTreeWidget*>(o), m_index)) return node->text(0);
      return QString();
    case HeaderSection:
      if (auto* table = qobject_cast<QTableWidget*>(o)) {
        const QTableWidgetItem* item = table->horizontalHeaderItem(m_index);
        return item ? item->text() : QString();
      }
      if (QAbstractItemModel* model = HeaderModel(o); model && m_index < model->columnCount())
        return model->headerData(m_index, Qt::Horizontal).toString();
      return QString();
  }
  return QString();
}

void TFormText::Set(const QString& AValue) const {
  QObject* o = m_obj.data();
  if (!o || Get() == AValue) return;
  switch (m_kind) {
    case Property:
      o->setProperty(m_prop.constData(), AValue);
      break;
    case ActionToolTip:
      // An empty tool tip gives the action its made-up one back.
      static_cast<QAction*>(o)->setToolTip(AValue);
      break;
    case TabText:
      if (QTabWidget* tabs = TabOwner(o)) tabs->setTabText(tabs->indexOf(static_cast<QWidget*>(o)), AValue);
      break;
    case ComboItem:
      if (auto* combo = static_cast<QComboBox*>(o); m_index < combo->count()) combo->setItemText(m_index, AValue);
      break;
    case ListItem:
      if (QListWidgetItem* item = static_cast<QListWidget*>(o)->item(m_index)) item->setText(AValue);
      break;
    case TreeNode:
      if (QTreeWidgetItem* node = TreeNodeAt(static_cast<QTreeWidget*>(o), m_index)) node->setText(0, AValue);
      break;
    case HeaderSection:
      if (auto* table = qobject_cast<QTableWidget*>(o)) {
        if (m_index >= table->columnCount()) break;
        if (QTableWidgetItem* item = table->horizontalHeaderItem(m_index))
          item->setText(AValue);
        else
          table->setHorizontalHeaderItem(m_index, new QTableWidgetItem(AValue));
      } else if (QAbstractItemModel* model = HeaderModel(o); model && m_index < model->columnCount()) {
        model->setHeaderData(m_index, Qt::Horizontal, AValue);
      }
      break;
  }
}

QString FormClassName(const QObject* AForm) { return QString::fromLatin1(AForm->metaObject()->className()); }

QList<QObject*> OwnedComponents(QObject* AOwner) {
  QList<QObject*> out;
  CollectComponents(AOwner, out);
  return out;
}

QObject* FindOwnedComponent(QObject* AOwner, const QString& AName) {
  if (AName.isEmpty()) return nullptr;
  for (QObject* c : OwnedComponents(AOwner))
    if (SameName(c->objectName(), AName)) return c;
  return nullptr;
}

std::optional<TFormText> ResolveTextPath(QObject* AObject, const QString& APath, bool AIsForm) {
  const QList<QStringView> parts = QStringView(APath).split(u'.');
  if (parts.size() == 1) {
    // A single part written with an index is a list line of the object itself,
    // which no component here has.
    if (parts[0].contains(u'(') || parts[0].contains(u'<')) return std::nullopt;
    return AliasText(AObject, parts[0], AIsForm);
  }
  if (parts.size() != 2) return std::nullopt;
  QStringView name;
  int index = 0;
  // Items.Strings(N): any name before "(N)" does, as the list object has no
  // property of its own that could be meant.
  if (SameName(parts[0], u"Items") && SplitIndexed(parts[1], u'(', u')', &name, &index)) {
    if (const QList<TFormText> lines = ItemTexts(AObject); index < lines.size()) return lines[index];
    return std::nullopt;
  }
  if (SplitIndexed(parts[0], u'<', u'>', &name, &index) && SameName(name, u"Columns") &&
      SameName(parts[1], u"Caption")) {
    if (index < ColumnCount(AObject)) return TFormText(AObject, TFormText::HeaderSection, {}, index);
  }
  return std::nullopt;
}

QList<QPair<QString, TFormText>> ListTexts(QObject* AObject, bool AIsForm) {
  QList<QPair<QString, TFormText>> out;
  QList<QByteArray> covered;  // Qt properties already listed under an alias
  auto addAlias = [&](const char* AName) {
    const std::optional<TFormText> t = AliasText(AObject, QString::fromLatin1(AName), AIsForm);
    if (!t) return;
    for (const auto& [path, listed] : std::as_const(out))
      if (listed.SameAs(*t)) return;  // a label's Text is its Caption
    out.append({QString::fromLatin1(AName), *t});
  };
  for (const char* alias : {"Caption", "Hint", "Text", "TextHint"}) addAlias(alias);
  for (const auto& [path, text] : std::as_const(out))
    if (!text.PropertyName().isEmpty()) covered.append(text.PropertyName());

  const QList<TFormText> lines = ItemTexts(AObject);
  for (qsizetype i = 0; i < lines.size(); ++i) out.append({QStringLiteral("Items.Strings(%1)").arg(i), lines[i]});
  const int columns = ColumnCount(AObject);
  for (int i = 0; i < columns; ++i)
    out.append({QStringLiteral("Columns<%1>.Caption").arg(i), TFormText(AObject, TFormText::HeaderSection, {}, i)});

  const QMetaObject* meta = AObject->metaObject();
  for (int i = 0; i < meta->propertyCount(); ++i) {
    const QMetaProperty p = meta->property(i);
    if (p.metaType().id() != QMetaType::QString || !p.isReadable() || !p.isWritable()) continue;
    const QByteArray name(p.name());
    if (name == "objectName" || covered.contains(name)) continue;
    out.append({QString::fromLatin1(name), PropertyTextOf(AObject, name)});
  }
  return out;
}

std::optional<TResolvedKey> ResolveFormKey(const QList<QObject*>& AForms, const QString& AKey) {
  const QStringList parts = AKey.split(u'-');
  if (parts.size() < 2) return std::nullopt;
  QObject* form = nullptr;
  for (QObject* f : AForms) {
    if (f && SameName(FormClassName(f), parts.front())) {
      form = f;
      break;
    }
  }
  if (!form) return std::nullopt;
  QObject* at = form;
  for (qsizetype i = 1; i + 1 < parts.size(); ++i) {
    at = FindOwnedComponent(at, parts[i]);
    if (!at) return std::nullopt;
  }
  std::optional<TFormText> text = ResolveTextPath(at, parts.back(), at == form);
  if (!text) return std::nullopt;
  // The widgets a key names on the way are only a route: the patterns see
  // the key as the template writer writes it, so that no spelling gets past
  // an exclude.
  QString flat = FormClassName(form) + u'-';
  if (at != form) flat += at->objectName() + u'-';
  return TResolvedKey{form, *text, flat + parts.back()};
}
