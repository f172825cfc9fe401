// The program's command line: the general switches, plus "p" and a port
// name, and "s" (standard) or "u" (custom), a class word and a format name.
#pragma once

#include <QString>
#include <QStringList>

#include "AppUtils.h"
#include "Profiles.h"

class TMyCmdLineInfo : public TCommandLineInfo {
 public:
  QString m_sPort;  // from "p": opened at start instead of the stored port
  // The current format of each class from "s"/"u", by class; an empty name
  // leaves the class alone. The flag is true for "s", a standard format.
  QString m_sFmt[kCvtFmtTypeCount];
  bool m_fFmtStd[kCvtFmtTypeCount] = {};

 protected:
  void ParseParam(const QString& AParam, bool AFlag, bool ALast) override;
  // Takes the program's own switches; false hands the switch on.
  bool MyParseParamFlag(const QString& AParam);
};

// What a start may ask for instead of starting: the usage ("--help", "-h")
// or the version ("--version"), each a whole argument anywhere on the line.
// Both are answered on standard output before anything else, so they need
// no display. Every other argument keeps its meaning: "-h..." and "-help"
// are no switches of ours, as before.
enum class TInfoRequest { None, Usage, Version };
TInfoRequest InfoRequest(const QStringList& AParams);
QString UsageText();
QString VersionText();
