// The road of one card inside the program: received bytes are cut into
// lines, each line is parsed, the card is shown, converted by the current
// format of its class, delivered and logged. The window's controls, the
// delivery (keyboard or clipboard, and the transfer log) and the current
// formats are reached through the small interfaces below, so the whole road
// runs and is tested without a display.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

#include "CardEngine.h"
#include "CardParser.h"
#include "Profiles.h"

// One mark of a sent text's display form: a control or punctuation
// character made visible, shown in colour. 0-based, in the display text.
struct TransMark {
  int start = 0;
  int length = 0;
  bool operator==(const TransMark&) const = default;
};

// The display form of a sent text: letters and digits of any script and the
// blank as they are; backspace, tab, line feed and carriage return as \b,
// \t, \n, \r; any other character as "#" and the decimal value of the low 8
// bits of its code.
struct TransDisplay {
  QString text;
  std::vector<TransMark> marks;
};
TransDisplay MakeTransDisplay(const QString& AText);

// How a converted text is delivered; any other value delivers nothing.
enum TTransMethod : int { tm_Keyboard = 0, tm_Clipboard = 1 };

// The controls of the main window that show a card.
class ICardView {
 public:
  virtual ~ICardView() = default;
  // The last line received (port output).
  virtual void ShowPortText(const QString& ALine) = 0;
  // The byte grid's row: 16 cells, byte i as two upper-case hexadecimal
  // digits, the cells after the last byte empty.
  virtual void ShowCardBytes(const QStringList& ACells) = 0;
  virtual void ShowCardType(const QString& AName) = 0;
  // The format used ("%s (standard)", "%s (custom)" or empty).
  virtual void ShowLastFmt(const QString& AText) = 0;
  // The text sent, in display form with its marks, or a message.
  virtual void ShowTrans(const TransDisplay& AShown) = 0;
  // The title of the window the text went to.
  virtual void ShowWindow(const QString& ATitle) = 0;
  // Brings the tab of a format class to the front.
  virtual void ShowClassPage(TCvtFmtType AClass) = 0;
};

// Delivery of a converted text and the transfer log.
class ICardDelivery {
 public:
  virtual ~ICardDelivery() = default;
  // Types AText into the window in front. AShown becomes AText when it was
  // typed (it stays empty otherwise); AWindow, when given, receives the
  // target's title when there is a target. When nothing could be typed the
  // result says why, in words for the user; it is empty when typed.
  virtual QString TransferByKeyboard(const QString& AText, QString& AShown, QString* AWindow) = 0;
  // Puts AText on the clipboard; AShown := AText, AWindow := "<clipboard>".
  virtual void TransferByClipboard(const QString& AText, QString& AShown, QString* AWindow) = 0;
  // Appends one line to the transfer log; ANotTyped, when not empty, tells
  // why the text was not typed, and the line says that instead of a window.
  virtual void WriteLog(TovkCardType ACardType, bool AStd, const QString& AFmtName, const QString& AShown,
                        const QString& AWindow, const QString& ANotTyped) = 0;
};

// The current format of each class (from the user profile).
class ICardFormats {
 public:
  virtual ~ICardFormats() = default;
  // The current format of AClass, or null when none is set or it cannot be
  // found; AStd tells whether it is a standard one.
  virtual const TCvtFmt* CurCvtFmt(TCvtFmtType AClass, bool& AStd) = 0;
};

class CardPipeline {
 public:
  CardPipeline(ICardView& AView, ICardDelivery& ADelivery, ICardFormats& AFormats, ISystemBeep* ABeep = nullptr);

  // Handles the bytes the reader port delivered: every complete line is
  // handled on its own, and a line whose handling fails ends there without
  // holding up the lines after it.
  void PortReceive(const QByteArray& AData);
  // Shows one line and processes the card it names, if any.
  void ParseCardText(const QString& ALine);
  // Shows, converts, delivers and logs one card.
  void ProcessCard(TovkCardType ACardType, const CardBytes& ABytes);
  // Converts a card by a template and parameter string, delivers the text
  // and shows it. AShown, when given, receives the text as shown; AWindow
  // the target's title (untouched when nothing was delivered). A text that
  // could not be typed is shown all the same, and AWindow and the result
  // say why it was not typed (the result is empty otherwise). Throws
  // EFormatError when the formatter rejects the template.
  QString ConvertCard(const QString& ATemplate, const QString& AReplaces, TovkCardType ACardType,
                      const CardBytes& ABytes, QString* AShown, QString& AWindow);
  // Shows a sent text with its marks; the display text.
  QString ShowTransText(const QString& AText);
  // The current format of a class; AStd (when given) receives its standard
  // flag when there is one and is left alone otherwise.
  const TCvtFmt* GetCurCvtFmt(TCvtFmtType AClass, bool* AStd);

  // Settings that steer the road.
  bool ShowTransFmtPar() const { return FShowTransFmtPar; }
  void SetShowTransFmtPar(bool AValue) { FShowTransFmtPar = AValue; }
  bool TransLog() const { return FTransLog; }
  void SetTransLog(bool AValue) { FTransLog = AValue; }
  int TransMethod() const { return FTransMethod; }
  void SetTransMethod(int AValue) { FTransMethod = AValue; }
  // The item of the default-format choice (kDefCmtNone..kDefCmtEx).
  int DefCmt() const { return m_nDefCmt; }
  void SetDefCmt(int AValue) { m_nDefCmt = AValue; }

  // The last card that had a format.
  const QString& LastFmt() const { return m_sLastFmt; }
  bool LastFmtStd() const { return m_fLastFmdStd; }
  TovkCardType LastCardType() const { return m_nLastCdTip; }

  // Text received and still waiting for its CR.
  QString PendingText() const { return m_oBuf.Pending(); }

 private:
  ICardView& m_view;
  ICardDelivery& m_delivery;
  ICardFormats& m_formats;
  ISystemBeep* m_pBeep;

  CardLineBuffer m_oBuf;
  QString m_sLastFmt;
  bool m_fLastFmdStd = false;
  TovkCardType m_nLastCdTip = ovkc_Unk;

  bool FShowTransFmtPar = false;
  bool FTransLog = false;
  int FTransMethod = tm_Keyboard;
  int m_nDefCmt = kDefCmtNone;
};
