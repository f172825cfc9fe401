#include "About.h"

#include <QDesktopServices>
#include <QFont>
#include <QFrame>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QScreen>
#include <QUrl>

#include "AppLanguage.h"
#include "AppUtils.h"
#include "ProgramIcon.h"

namespace {

QLabel* Label(QWidget* AParent, const char* AName, const QString& AText, const QRect& AGeometry) {
  auto* l = new QLabel(AText, AParent);
  l->setObjectName(QLatin1String(AName));
  l->setGeometry(AGeometry);
  return l;
}

// A label whose text ends in a link; a click on the link calls AClick.
QLabel* LinkLabel(TAboutBox* ABox, const char* AName, const QString& AText, const QRect& AGeometry,
                  void (TAboutBox::*AClick)()) {
  QLabel* l = Label(ABox, AName, AText, AGeometry);
  l->setTextFormat(Qt::RichText);
  l->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
  // The label's own handler opens the link, whatever address a translated
  // text may show.
  QObject::connect(l, &QLabel::linkActivated, ABox, [ABox, AClick] { (ABox->*AClick)(); });
  return l;
}

}  // namespace

TAboutBox::TAboutBox(TAppLanguage& ALanguage, QWidget* AParent)
    : QDialog(AParent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint), m_language(ALanguage) {
  setObjectName(QStringLiteral("AboutBox"));
  setWindowTitle(QStringLiteral("About"));
  setWindowIcon(::ProgramIcon());
  CreateControls();
  m_language.AddForm(this);
  if (m_language.Loaded()) m_language.Translate(this);
}

TAboutBox::~TAboutBox() { m_language.RemoveForm(this); }

QDate TAboutBox::BuildDate() { return QDate(2026, 12, 10); }

QString TAboutBox::VersionText() {
  return QStringLiteral("%1 (%2)").arg(GetFileVersionStr(GetAppExePath()),
                                      QLocale().toString(BuildDate(), QLocale::ShortFormat));
}

void TAboutBox::CreateControls() {
  setFixedSize(298, 235);
  Panel1 = new QFrame(this);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  Panel1->setGeometry(8, 8, 282, 161);

  ProgramIcon = Label(Panel1, "ProgramIcon", QString(), QRect(8, 8, 48, 48));
  ProgramIcon->setAlignment(Qt::AlignCenter);
  // At the size of its place: the icon has an image of that size.
  ProgramIcon->setPixmap(::ProgramIcon().pixmap(ProgramIcon->size()));
  ProductName = Label(Panel1, "ProductName", QStringLiteral("Sorvex"), QRect(72, 12, 200, 30));
  QFont big(QStringLiteral("Serif"));
  big.setStyleHint(QFont::Serif);
  big.setPixelSize(19);
  ProductName->setFont(big);
  Version = Label(Panel1, "Version", QStringLiteral("Version:"), QRect(72, 44, 60, 18));
  stVersion = Label(Panel1, "stVersion", QString(), QRect(134, 44, 140, 18));
  Copyright =
      Label(Panel1, "Copyright", QStringLiteral("Copyright (C) The Sorvex developers"), QRect(8, 66, 266, 18));
  Comments = Label(Panel1, "Comments",
                   QStringLiteral("Sorvex turns the numbers of the cards presented to the reader into text and "
                                  "types it into the active application by simulated key presses."),
                   QRect(8, 88, 266, 66));
  Comments->setWordWrap(true);
  Comments->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  const QString web = QLatin1String(kWebPage), mail = QLatin1String(kMailAddress);
  labInternet = LinkLabel(this, "labInternet", QStringLiteral("Internet: <a href=\"%1\">%1</a>").arg(web),
                          QRect(8, 174, 282, 18), &TAboutBox::labInternetLinkClick);
  labMail = LinkLabel(this, "labMail", QStringLiteral("Mail: <a href=\"mailto:%1\">%1</a>").arg(mail),
                      QRect(8, 194, 200, 18), &TAboutBox::labMailLinkClick);

  OKButton = new QPushButton(QStringLiteral("OK"), this);
  OKButton->setObjectName(QStringLiteral("OKButton"));
  OKButton->setDefault(true);
  OKButton->setGeometry(214, 201, 76, 26);
  connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
  OKButton->setFocus();
}

void TAboutBox::showEvent(QShowEvent* AEvent) {
  stVersion->setText(VersionText());
  // Centred on the screen, not on the owner.
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
  QDialog::showEvent(AEvent);
}

// The shell's failures are not the user's concern here: nothing is shown.
void TAboutBox::labInternetLinkClick() { QDesktopServices::openUrl(QUrl(QLatin1String(kWebPage))); }

void TAboutBox::labMailLinkClick() {
  QDesktopServices::openUrl(QUrl(QStringLiteral("mailto:") + QLatin1String(kMailAddress)));
}
