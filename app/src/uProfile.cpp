#include "uProfile.h"

TCvtFmtType CardTypeToCvtFmtType(TovkCardType AType) {
  switch (AType) {
    case ovkc_1K:
    case ovkc_4K:
      return cft_M1K;
    case ovkc_Hid:
      return cft_Hid;
    case ovkc_Em:
    case ovkc_Cod433:
      return cft_Emm;
    case ovkc_iCode:
      return cft_iCode;
    case ovkc_Ex:
      return cft_Ex;
    default:
      return cft_MUL;
  }
}

QString CvtFmtTypeName(TCvtFmtType AType) {
  static const char* const kWords[kCvtFmtTypeCount] = {"MUL", "M1K", "HID", "EMM", "IC", "EX"};
  return QString::fromLatin1(kWords[AType < kCvtFmtTypeCount ? AType : cft_MUL]);
}
