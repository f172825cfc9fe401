// The texts of a form's components as language files address them.
//
// A key names a form by its class name (metaObject()->className()), then a
// component by its objectName for each level, then a property path:
// "TfmMain-btnApplyFmt-Caption". Translators write the property names they
// have always written, so the path goes through an alias table onto Qt:
//   Caption            the window title of a form; a tab page's tab text; a
//                      group box's or menu's title; a button's, label's or
//                      action's text
//   Hint               the tool tip (an action's own only: the one Qt makes up
//                      from its text reads as empty)
//   Text               the text property
//   TextHint           the placeholder text
//   Items.Strings(N)   item N of a combo or list box, the N-th radio button of
//                      a group box, node N of a tree (counted over all nodes)
//   Columns<N>.Caption the text of header section N of a table or tree
//   any other name     a writable string property of that name
// Names compare ignoring case. Every named object inside a form is one of the
// form's components (the form designer's components all belong to the form,
// however the widgets nest); unnamed objects and Qt's own internal "qt_"
// objects are not components, nor is anything inside a control (a button, a
// tab bar, an edit, a list...: Qt builds those from parts of its own; a pop-up
// menu a control carries is a component all the same) or inside another
// window (a dialog is a form of its own). The component's objectName is never
// a text: it is the address.
#pragma once

#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>

#include <optional>
#include <tuple>

// One addressable text of one component.
class TFormText {
 public:
  enum Kind { Property, ActionToolTip, TabText, ComboItem, ListItem, TreeNode, HeaderSection };

  TFormText(QObject* AObject, Kind AKind, QByteArray AProperty, int AIndex);

  // The component still exists.
  bool Alive() const { return !m_obj.isNull(); }
  QString Get() const;
  // Sets the text when the component exists and the text differs.
  void Set(const QString& AValue) const;

  // The Qt property behind the text; empty for texts that are not properties.
  const QByteArray& PropertyName() const { return m_prop; }

  // Identity of the text (the same component and place).
  auto Id() const { return std::tie(m_raw, m_kind, m_prop, m_index); }
  bool SameAs(const TFormText& AOther) const { return Id() == AOther.Id(); }

 private:
  QPointer<QObject> m_obj;
  const QObject* m_raw;
  Kind m_kind;
  QByteArray m_prop;
  int m_index;
};

// The class name a form is addressed by.
QString FormClassName(const QObject* AForm);
// The components of AOwner in tree order: its named descendants, not entering
// other windows or controls, without Qt's internal objects.
QList<QObject*> OwnedComponents(QObject* AOwner);
// The first component of AOwner named AName (ignoring case), or nullptr.
QObject* FindOwnedComponent(QObject* AOwner, const QString& AName);

// The text that APath names on AObject (AIsForm: AObject is the form itself);
// nothing when the path addresses no text there.
std::optional<TFormText> ResolveTextPath(QObject* AObject, const QString& APath, bool AIsForm);
// Every text of AObject with the path a language file writes it under, in
// template order: the aliases first, then the other string properties.
QList<QPair<QString, TFormText>> ListTexts(QObject* AObject, bool AIsForm);

// What a [Forms] key addresses among AForms (first form of the class wins).
struct TResolvedKey {
  QObject* form;
  TFormText text;
  // The key as the template writer writes it (the form's class name, the
  // addressed component's own name, the path), whatever route the key took:
  // what exclude patterns are tested against.
  QString flatKey;
};
std::optional<TResolvedKey> ResolveFormKey(const QList<QObject*>& AForms, const QString& AKey);
