#include "TransferLog.h"

#include "AppUtils.h"

QString CardTypeLogWord(TovkCardType ACardType) {
  switch (ACardType) {
    case ovkc_UL: return QStringLiteral("MUL");
    case ovkc_1K: return QStringLiteral("M1K");
    case ovkc_Hid: return QStringLiteral("HID");
    case ovkc_Em: return QStringLiteral("EMM");
    case ovkc_Cod433: return QStringLiteral("433");
    case ovkc_iCode: return QStringLiteral("iCode");
    case ovkc_Df: return QStringLiteral("MDF");
    case ovkc_4K: return QStringLiteral("M4K");
    case ovkc_DS: return QStringLiteral("DS");
    default: return QStringLiteral("Ex");
  }
}

QString TransferLogTag(TovkCardType ACardType, bool AStd, const QString& AFmtName) {
  QString tag = CardTypeLogWord(ACardType) + QStringLiteral(": \"") + AFmtName + QLatin1Char('"');
  if (AStd) tag += QStringLiteral(" (std)");
  return tag;
}

QString TransferLogLine(const QDateTime& ATime, TovkCardType ACardType, bool AStd,
                        const QString& AFmtName, const QString& AShown, const QString& AWindow,
                        const QString& ANotTyped) {
  const QDate d = ATime.date();
  const QTime t = ATime.time();
  // A text that was not typed must not read as a transfer: no arrow, no
  // window.
  const QString whereTo = ANotTyped.isEmpty() ? QStringLiteral("\" -> \"") + AWindow + QStringLiteral("\" [")
                                              : QStringLiteral("\" ") + ANotTyped + QStringLiteral(" [");
  return QString::asprintf("%.2d/%.2d/%.4d %.2d:%.2d:%.2d  \"", d.day(), d.month(), d.year(),
                           t.hour(), t.minute(), t.second()) +
         AShown + whereTo + TransferLogTag(ACardType, AStd, AFmtName) + QStringLiteral("]\r\n");
}

QString TransferLogFileName(const QString& ALogDir, const QString& APortName) {
  if (ALogDir.isEmpty()) return QString();
  QString port = APortName;
  port.replace(QLatin1Char('/'), QLatin1Char('_'));
  QString dir = ALogDir;
  if (!dir.endsWith(QLatin1Char('/'))) dir += QLatin1Char('/');
  return dir + QLatin1Char('_') + port + QStringLiteral(".log");
}

bool WriteLog(const QString& ALogDir, const QString& APortName, TovkCardType ACardType, bool AStd,
              const QString& AFmtName, const QString& AShown, const QString& AWindow,
              const QString& ANotTyped, QString* AError) {
  const QString line = TransferLogLine(QDateTime::currentDateTime(), ACardType, AStd, AFmtName,
                                       AShown, AWindow, ANotTyped);
  const QString file = TransferLogFileName(ALogDir, APortName);
  if (file.isEmpty()) {
    if (AError) *AError = QStringLiteral("there is no folder for it");
    return false;
  }
  QString why;
  if (AppendTextToFile(line, file, &why)) return true;
  if (AError) *AError = file + QStringLiteral(": ") + why;
  return false;
}
