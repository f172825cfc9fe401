#include "AppStrings.h"

QString BuiltInAppString(int AId) {
  switch (AId) {
    case str_ErrSyntaxParams:
      return QStringLiteral("[Error: syntax parameters (position %d)]");
    case str_FmtStandard:
      return QStringLiteral("%s (standard)");
    case str_FmtCustom:
      return QStringLiteral("%s (custom)");
    case str_FmtNotSet:
      return QStringLiteral("[format is not set]");
    default:
      return QString();
  }
}

QString AppString(int AId) { return BuiltInAppString(AId); }
