#include "CommandLine.h"

void TMyCmdLineInfo::ParseParam(const QString& AParam, bool AFlag, bool ALast) {
  if (AFlag && MyParseParamFlag(AParam)) return;
  TCommandLineInfo::ParseParam(AParam, AFlag, ALast);
}

bool TMyCmdLineInfo::MyParseParamFlag(const QString& AParam) {
  if (AParam.isEmpty()) return false;
  const QChar kind = AParam[0];  // case-sensitive: "P", "S", "U" are no switches of ours
  if (kind == u'p') {
    m_sPort = AParam.mid(1);
    return true;
  }
  if ((kind != u's' && kind != u'u') || AParam.size() < 5) return false;
  // Three-letter class words first, so that "-sEXtra" is not read as "EX".
  static const struct {
    const char* word;
    TCvtFmtType type;
  } kWords[] = {{"MUL", cft_MUL}, {"M1K", cft_M1K}, {"HID", cft_Hid},
                {"EMM", cft_Emm}, {"IC", cft_iCode},  {"EX", cft_Ex}};
  for (const auto& w : kWords) {
    const qsizetype len = qsizetype(qstrlen(w.word));
    if (AParam.mid(1, len).toUpper() == QLatin1String(w.word)) {
      m_sFmt[w.type] = AParam.mid(1 + len);
      m_fFmtStd[w.type] = kind == u's';
      return true;
    }
  }
  return false;
}
