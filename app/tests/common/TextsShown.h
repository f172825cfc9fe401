// Whether a window shows its texts whole, as the user reads them at the
// window's fixed size and the application's font: every label, check box,
// radio button and push button wide enough for its text (a word-wrapped
// label tall enough), every group box title inside its box, every control
// inside the widget it sits in, and every tab of a tab widget inside the tab
// bar and wide enough for its text, and no two controls over each other.
// The problems found, one line each.
#pragma once

#include <QAbstractButton>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <QTabBar>
#include <QTabWidget>
#include <QWidget>

#include <functional>

// The rectangle a tab bar draws tab AIndex in; the bar's own tabRect unless
// the caller knows better (a bar that lays its tabs out in rows).
using TabRectOf = std::function<QRect(const QTabBar&, int)>;

inline QStringList TextsCut(QWidget& AWindow, const TabRectOf& ATabRect = {}) {
  QStringList problems;
  auto name = [](const QWidget* w) {
    if (!w->objectName().isEmpty()) return w->objectName();
    const auto* button = qobject_cast<const QAbstractButton*>(w);
    return QString::fromLatin1(w->metaObject()->className()) + (button ? " \"" + button->text() + "\"" : QString());
  };
  auto visible = [&](const QWidget* w) { return w->isVisibleTo(&AWindow); };
  auto plain = [](QString AText) { return AText.remove(u'&'); };

  for (QWidget* w : AWindow.findChildren<QWidget*>()) {
    if (!visible(w)) continue;
    // The form's own controls: named ones and the items of radio groups,
    // not the parts Qt builds controls from.
    const bool own = (!w->objectName().isEmpty() && !w->objectName().startsWith(QLatin1String("qt_"))) ||
                     qobject_cast<QRadioButton*>(w);
    if (!own) continue;
    const QString id = name(w);
    if (QWidget* parent = w->parentWidget(); parent && !parent->rect().contains(w->geometry()))
      problems << QStringLiteral("%1 sticks out of %2").arg(id, name(parent));
    for (QObject* o : w->parent()->children()) {
      auto* sibling = qobject_cast<QWidget*>(o);
      if (sibling && sibling != w && sibling->isWindow() == w->isWindow() && visible(sibling) &&
          (!sibling->objectName().isEmpty() || qobject_cast<QRadioButton*>(sibling)) &&
          !sibling->objectName().startsWith(QLatin1String("qt_")) && sibling->geometry().intersects(w->geometry()) &&
          w < sibling)  // each pair once
        problems << QStringLiteral("%1 and %2 overlap").arg(id, name(sibling));
    }

    if (auto* label = qobject_cast<QLabel*>(w)) {
      if (label->text().isEmpty()) continue;
      if (label->wordWrap()) {
        const int need = label->heightForWidth(label->width());
        if (need > label->height())
          problems << QStringLiteral("%1 \"%2\": needs %3 pixels of height, has %4")
                          .arg(id, label->text())
                          .arg(need)
                          .arg(label->height());
      } else if (label->sizeHint().width() > label->width()) {
        problems << QStringLiteral("%1 \"%2\": needs %3 pixels, has %4")
                        .arg(id, label->text())
                        .arg(label->sizeHint().width())
                        .arg(label->width());
      }
    } else if (qobject_cast<QCheckBox*>(w) || qobject_cast<QRadioButton*>(w)) {
      auto* box = static_cast<QAbstractButton*>(w);
      if (box->sizeHint().width() > box->width())
        problems << QStringLiteral("%1 \"%2\": needs %3 pixels, has %4")
                        .arg(id, box->text())
                        .arg(box->sizeHint().width())
                        .arg(box->width());
    } else if (auto* button = qobject_cast<QPushButton*>(w); button && !button->text().isEmpty()) {
      QStyleOptionButton opt;
      opt.initFrom(button);
      opt.text = button->text();
      const int room = button->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, button).width();
      const int need = button->fontMetrics().horizontalAdvance(plain(button->text()));
      if (need > room)
        problems << QStringLiteral("%1 \"%2\": needs %3 pixels, has %4").arg(id, button->text()).arg(need).arg(room);
    } else if (auto* group = qobject_cast<QGroupBox*>(w); group && !group->title().isEmpty()) {
      QStyleOptionGroupBox opt;
      opt.initFrom(group);
      opt.text = group->title();
      opt.subControls = QStyle::SC_GroupBoxLabel;
      const QRect title = group->style()->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, group);
      if (!group->rect().contains(title))
        problems << QStringLiteral("%1 title \"%2\" does not fit").arg(id, group->title());
    } else if (auto* tabs = qobject_cast<QTabWidget*>(w)) {
      const QTabBar* bar = tabs->tabBar();
      if (!tabs->rect().contains(bar->geometry())) problems << QStringLiteral("%1: the tab bar sticks out").arg(id);
      const int space = bar->style()->pixelMetric(QStyle::PM_TabBarTabHSpace, nullptr, bar);
      QList<QRect> seen;
      for (int i = 0; i < bar->count(); ++i) {
        if (!bar->isTabVisible(i)) continue;
        const QRect r = ATabRect ? ATabRect(*bar, i) : bar->tabRect(i);
        const QString tab = bar->tabText(i);
        if (!bar->rect().contains(r))
          problems << QStringLiteral("%1 tab \"%2\" lies outside the tab bar").arg(id, tab);
        if (bar->fontMetrics().horizontalAdvance(plain(tab)) + space > r.width())
          problems << QStringLiteral("%1 tab \"%2\" is too narrow for its text").arg(id, tab);
        for (const QRect& other : seen)
          if (other.intersects(r)) problems << QStringLiteral("%1 tab \"%2\" covers another").arg(id, tab);
        seen << r;
      }
    }
  }
  return problems;
}
