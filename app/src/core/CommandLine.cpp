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

TInfoRequest InfoRequest(const QStringList& AParams) {
  for (const QString& p : AParams) {
    if (p == u"--help" || p == u"-h") return TInfoRequest::Usage;
    if (p == u"--version") return TInfoRequest::Version;
  }
  return TInfoRequest::None;
}

QString UsageText() {
  return QStringLiteral(
      "Usage: sorvex [-autorun] [-pPORT] [-sCLASSformat] [-uCLASSformat] [-unregister] [PROFILE]\n"
      "       sorvex --help | -h | --version\n"
      "\n"
      "Types the numbers of contactless cards from a card reader on a USB serial\n"
      "port into the window that has the keyboard, or puts them on the clipboard.\n"
      "\n"
      "  -autorun        start hidden, with only the icon in the notification area\n"
      "  -pPORT          open PORT, a path below /dev (ttyUSB0, pts/3), at start\n"
      "                  instead of the stored port\n"
      "  -sCLASSformat   make the standard format named \"format\" the current format\n"
      "                  of card class CLASS: MUL, M1K, HID, EMM, IC or EX\n"
      "  -uCLASSformat   the same for a format of the user's own profile\n"
      "  -unregister     accepted; it has no effect\n"
      "  PROFILE         open the user profile of that name at start\n"
      "  -h, --help      print this help and exit\n"
      "  --version       print the version and exit\n"
      "\n"
      "Switches may also begin with \"/\". Sorvex needs an X11 session or XWayland.\n"
      "See sorvex(1).\n");
}

QString VersionText() { return QStringLiteral("Sorvex " SORVEX_VERSION "\n"); }
