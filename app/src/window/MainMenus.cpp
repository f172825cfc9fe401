// The tray menu's format submenus: the current format of a class picked
// without opening the window.
#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QMenu>

#include "AppConfig.h"
#include "AppMessages.h"
#include "MainForm.h"

namespace {

// Item names: the prefix and the format's id ("sm1k" and 3 give sm1k3).
constexpr const char* kItemPrefix[2][kCvtFmtTypeCount] = {
    {"umul", "um1k", "uhid", "uemm", "uic", "uex"},  // custom formats
    {"smul", "sm1k", "shid", "semm", "sic", "sex"},  // standard formats
};

}  // namespace

int TfmMain::FmtSubmenuBit(TCvtFmtType ATip, bool AStd) { return AStd ? int(ATip) : 7 + int(ATip); }

QMenu* TfmMain::FmtSubmenu(TCvtFmtType ATip, bool AStd) const {
  return m_fmtSubmenus[AStd ? 1 : 0][ValidTip(ATip)];
}

void TfmMain::RebuildCustomSubmenu(TCvtFmtType ATip) { m_nMenuInitFlags &= ~(1u << FmtSubmenuBit(ATip, false)); }

void TfmMain::UpdateFmtSubmenu(TCvtFmtType ATip, bool AStd) {
  ATip = ValidTip(ATip);
  FillFmtSubmenu(FmtSubmenu(ATip, AStd), kItemPrefix[AStd ? 1 : 0][ATip], FmtSubmenuBit(ATip, AStd), ATip, AStd);
}

void TfmMain::FillFmtSubmenu(QMenu* ASubmenu, const char* APrefix, int ABit, TCvtFmtType ATip, bool AStd) {
  const QString curName = m_oUsrProfile->GetCurFmtName(ATip);
  const bool curStd = m_oUsrProfile->GetCurFmtStd(ATip);
  const TUIntKeyObjectList& formats = AStd ? m_oStdProfile->GetFmtList(ATip) : m_oUsrProfile->GetFmtList(ATip);

  // Everything but the hidden placeholder goes, with the old radio group.
  const QList<QAction*> items = ASubmenu->actions();
  for (qsizetype i = items.size() - 1; i >= 1; --i) delete items[i];
  delete ASubmenu->findChild<QActionGroup*>(QString(), Qt::FindDirectChildrenOnly);
  ASubmenu->setEnabled(formats.Count() > 0);

  // One radio group per submenu. A click on the item already checked takes
  // its mark away (the item toggles itself before its handler runs), so the
  // group allows no item to be checked.
  auto* group = new QActionGroup(ASubmenu);
  group->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
  for (const auto& fmt : formats) {
    // "&" in a menu caption marks the shortcut letter; a name is shown as
    // it is, with every "&" doubled.
    auto* item = new QAction(QString(fmt->m_sName).replace(u'&', QStringLiteral("&&")), ASubmenu);
    item->setObjectName(QLatin1String(APrefix) + QString::number(fmt->m_nFmtId));
    item->setToolTip(fmt->m_sHint);
    item->setStatusTip(fmt->m_sHint);
    item->setCheckable(true);
    item->setChecked(curStd == AStd && fmt->m_sName.compare(curName, Qt::CaseInsensitive) == 0);
    group->addAction(item);
    ASubmenu->addAction(item);
    connect(item, &QAction::triggered, this, [this, ATip, AStd] { FmtItemClick(ATip, AStd); });
  }
  m_nMenuInitFlags |= 1u << ABit;
}

QString TfmMain::GetCheckedItemCaption(const QMenu* ASubmenu) {
  for (const QAction* item : ASubmenu->actions()) {
    if (!item->isChecked()) continue;
    // The caption as shown: a single "&" (the shortcut mark) goes, a
    // doubled one is a "&" of the name.
    const QString caption = item->text();
    QString name;
    for (qsizetype i = 0; i < caption.size(); ++i) {
      if (caption[i] != u'&') {
        name += caption[i];
      } else if (i + 1 < caption.size() && caption[i + 1] == u'&') {
        name += u'&';
        ++i;
      }
    }
    return name;
  }
  return {};
}

void TfmMain::FmtItemClick(TCvtFmtType ATip, bool AStd) {
  const QString name = GetCheckedItemCaption(FmtSubmenu(ATip, AStd));
  if (name.isEmpty()) return;
  // The next start must find the pick. Without a profile it goes to the
  // settings, as a pick in the window's list does: the "Standard" box stores
  // the class only when the pick changes its kind. An open profile keeps its
  // own choice and writes it when it closes. One update, one write.
  m_config->BeginUpdate(false);
  SetCurFmt(ATip, name, AStd, false);
  if (!m_oUsrProfile->Opened()) StoreCurFmt(ATip);
  m_config->EndUpdate();
}

void TfmMain::menuTrayPopup() {
  miEnable2->setText(AppMsg(chkEnabled->isChecked() ? msgDisable : msgEnable));
  for (const bool std : {true, false}) {
    for (int c = 0; c < kCvtFmtTypeCount; ++c) {
      const auto tip = TCvtFmtType(c);
      if (!(m_nMenuInitFlags & (1u << FmtSubmenuBit(tip, std)))) UpdateFmtSubmenu(tip, std);
    }
  }
}
