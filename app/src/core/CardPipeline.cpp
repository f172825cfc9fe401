#include "CardPipeline.h"

#include "AppMessages.h"
#include "FmtArgs.h"

namespace {

constexpr int kGridByteColumns = 16;

}  // namespace

TransDisplay MakeTransDisplay(const QString& AText) {
  TransDisplay d;
  d.text.reserve(AText.size() * 2);
  for (QChar c : AText) {
    if (c.isLetterOrNumber() || c == u' ') {
      d.text += c;
      continue;
    }
    const int start = d.text.size();
    switch (c.unicode()) {
      case 8:
        d.text += u"\\b";
        break;
      case 9:
        d.text += u"\\t";
        break;
      case 10:
        d.text += u"\\n";
        break;
      case 13:
        d.text += u"\\r";
        break;
      default:
        d.text += u'#';
        d.text += QString::number(c.unicode() & 0xFF);
    }
    d.marks.push_back({start, static_cast<int>(d.text.size()) - start});
  }
  return d;
}

CardPipeline::CardPipeline(ICardView& AView, ICardDelivery& ADelivery, ICardFormats& AFormats,
                           ISystemBeep* ABeep)
    : m_view(AView), m_delivery(ADelivery), m_formats(AFormats), m_pBeep(ABeep) {}

void CardPipeline::PortReceive(const QByteArray& AData) {
  m_oBuf.Append(AData);
  QString line;
  // Each line is cut off before it is handled, so a line whose handling
  // fails is gone all the same and the lines behind it are not held back.
  while (m_oBuf.TakeLine(line)) {
    if (line.isEmpty()) continue;
    try {
      if (IsNoCardLine(line))
        m_view.ShowPortText(line);
      else
        ParseCardText(line);
    } catch (...) {
      // The failure ends this line only: nothing of it was delivered or
      // logged, and there is nobody to tell in the middle of a card.
    }
  }
}

void CardPipeline::ParseCardText(const QString& ALine) {
  m_view.ShowPortText(ALine);
  if (const auto card = ::ParseCardText(ALine, m_nDefCmt)) ProcessCard(card->type, card->bytes);
}

void CardPipeline::ProcessCard(TovkCardType ACardType, const CardBytes& ABytes) {
  static const char16_t kHex[] = u"0123456789ABCDEF";
  QStringList cells;
  cells.reserve(kGridByteColumns);
  for (int i = 0; i < kGridByteColumns; ++i) {
    if (i < static_cast<int>(ABytes.size())) {
      const QChar pair[2] = {kHex[ABytes[i] >> 4], kHex[ABytes[i] & 15]};
      cells << QString(pair, 2);
    } else {
      cells << QString();
    }
  }
  m_view.ShowCardBytes(cells);
  m_view.ShowCardType(GetCardTypeName(ACardType));
  const TCvtFmtType cls = CardTypeToCvtFmtType(ACardType);
  if (FShowTransFmtPar) m_view.ShowClassPage(cls);

  const TCvtFmt* fmt = GetCurCvtFmt(cls, &m_fLastFmdStd);
  if (!fmt) {
    m_view.ShowLastFmt(QString());
    m_view.ShowTrans({AppMsg(msgFormatNotSet), {}});
    m_view.ShowWindow(QString());
    return;
  }
  m_sLastFmt = fmt->m_sName;
  m_nLastCdTip = ACardType;
  m_view.ShowLastFmt(FormatAppMsg(m_fLastFmdStd ? msgFormatStandard : msgFormatCustom, {m_sLastFmt}));

  QString window;
  if (FTransLog) {
    QString shown;
    const QString notTyped = ConvertCard(fmt->m_sTemplate, fmt->m_sReplaces, ACardType, ABytes, &shown, window);
    m_delivery.WriteLog(ACardType, m_fLastFmdStd, m_sLastFmt, shown, window, notTyped);
  } else {
    ConvertCard(fmt->m_sTemplate, fmt->m_sReplaces, ACardType, ABytes, nullptr, window);
  }
  m_view.ShowWindow(window);
}

QString CardPipeline::ConvertCard(const QString& ATemplate, const QString& AReplaces, TovkCardType ACardType,
                                  const CardBytes& ABytes, QString* AShown, QString& AWindow) {
  QString text;
  int errPos = 0;
  if (CardToText(ATemplate, AReplaces, ACardType, ABytes, m_pBeep, text, errPos) != 0) {
    m_view.ShowTrans({FormatAppMsg(msgParamSyntax, {errPos}), {}});
    return QString();
  }
  QString shown;
  if (AShown) AShown->clear();
  QString notTyped;
  switch (FTransMethod) {
    case tm_Keyboard:
      notTyped = m_delivery.TransferByKeyboard(text, shown, &AWindow);
      break;
    case tm_Clipboard:
      m_delivery.TransferByClipboard(text, shown, &AWindow);
      break;
    default:
      break;
  }
  if (!notTyped.isEmpty()) {
    // The card is not lost without a word: its text stays in view, where
    // it can be copied, and the window's place says why it was not typed.
    // The clipboard is the user's and stays as it was.
    shown = text;
    AWindow = notTyped;
  }
  const QString display = ShowTransText(shown);
  if (AShown) *AShown = display;
  return notTyped;
}

QString CardPipeline::ShowTransText(const QString& AText) {
  TransDisplay display = MakeTransDisplay(AText);
  m_view.ShowTrans(display);
  return display.text;
}

const TCvtFmt* CardPipeline::GetCurCvtFmt(TCvtFmtType AClass, bool* AStd) {
  if (AClass >= kCvtFmtTypeCount) return nullptr;
  bool std = false;
  const TCvtFmt* fmt = m_formats.CurCvtFmt(AClass, std);
  if (fmt && AStd) *AStd = std;
  return fmt;
}
