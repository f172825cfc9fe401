// The templates and parameter strings of the 86 built-in standard formats,
// class by class, as the program ships them. Shared by the engine tests and
// the engine benchmark.
#pragma once

#include "uProfile.h"

struct StdFormatEntry {
  TCvtFmtType cls;
  int id;
  const char* templ;
  const char* replaces;
};

inline constexpr StdFormatEntry kStdFormats[] = {
    {cft_MUL, 1, R"(%.2X%.2X%.2X%.2X)", "b0 b6 b5 b4"},
    {cft_MUL, 2, R"(%.2X%.2X%.2X%.2X)", "b0 b6 b5 b4"},
    {cft_MUL, 3, R"(%.2X%.2X%.2X%.2X)", "b0 b6 b5 b4"},
    {cft_MUL, 4, R"(%.2X%.2X%.2X%.2X)", "b0 b6 b5 b4"},
    {cft_MUL, 5, R"(%.2X%.2X%.2X%.2X)", "b0 b6 b5 b4"},
    {cft_MUL, 6, R"(%.2X%.2X%.2X%.2X22)", "b4 b5 b6 b0"},
    {cft_MUL, 7, R"(%u\t%u)", "b6 w45"},
    {cft_MUL, 8, R"(%u\t%u)", "b6 w45"},
    {cft_MUL, 9, R"(%u)", "l456Z"},
    {cft_MUL, 10, R"(%u)", "l4560"},
    {cft_MUL, 11, R"(%.2u%u\n)", "b6 w45"},
    {cft_MUL, 12, R"(%u\t%u\t%u)", "w01 b6 w45"},
    {cft_MUL, 13, R"(004\t%.5U)", "w65"},
    {cft_MUL, 14, R"(004%.5U)", "w65"},
    {cft_MUL, 15, R"(%U)", "l012Z"},
    {cft_MUL, 16, R"(%.2X%.2X%.2X%.2X%.2X%.2X%.2X%.2X)", "b6 b5 b4 b3 b2 b1 b0 bX"},

    {cft_M1K, 1, R"(%.2X%.2X%.2X%.2X)", "b3 b2 b1 b0"},
    {cft_M1K, 2, R"(%.2X%.2X%.2X%.2X)", "b3 b2 b1 b0"},
    {cft_M1K, 3, R"(%.2X%.2X%.2X%.2X)", "b3 b2 b1 b0"},
    {cft_M1K, 4, R"(%.2X%.2X%.2X%.2X)", "b3 b2 b1 b0"},
    {cft_M1K, 5, R"(%.2X%.2X%.2X%.2X)", "b3 b2 b1 b0"},
    {cft_M1K, 6, R"(%.2X%.2X%.2X%.2X22)", "b0 b1 b2 b3"},
    {cft_M1K, 7, R"(%u\t%u)", "b3 w01"},
    {cft_M1K, 8, R"(%u\t%u)", "b3 w01"},
    {cft_M1K, 9, R"(%u)", "l012Z"},
    {cft_M1K, 10, R"(%u)", "l0123"},
    {cft_M1K, 11, R"(%.2u%u\n)", "b2 w01"},
    {cft_M1K, 12, R"(%.2u\t%u)", "b2 w01"},
    {cft_M1K, 13, R"(%u\t%u\t%u)", "b3 b2 w01"},
    {cft_M1K, 14, R"(%.3U\t%.5U)", "b1 w32"},
    {cft_M1K, 15, R"(%.3U%.5U)", "b1 w32"},
    {cft_M1K, 16, R"(%U)", "l012Z"},
    {cft_M1K, 17, R"(%.2X000000%.2X%.2X%.2X01)", "bY b2 b1 b0"},
    {cft_M1K, 18, R"(%.3U\#44%.5U)", "b2 w01"},

    {cft_Hid, 1, R"(%.2X%.2X%.2X%.2X)", "b0 b3 b4 b5"},
    {cft_Hid, 2, R"(%.2X%.2X%.2X%.2X)", "b0 b3 b4 b5"},
    {cft_Hid, 3, R"(%.2X%.2X%.2X%.2X)", "b0 b3 b4 b5"},
    {cft_Hid, 4, R"(%.2X%.2X%.2X%.2X)", "b0 b3 b4 b5"},
    {cft_Hid, 5, R"(%.2X%.2X%.2X%.2X)", "b0 b3 b4 b5"},
    {cft_Hid, 6, R"(%.2X%.2X%.2X%.2X)", "b0 b3 b4 b5"},
    {cft_Hid, 7, R"(%.2X%.2X%.2X%.2X22)", "b5 b4 b3 b0"},
    {cft_Hid, 8, R"(%u\t%u)", "b3 w54"},
    {cft_Hid, 9, R"(%u)", "l543Z"},
    {cft_Hid, 10, R"(%u)", "w54"},
    {cft_Hid, 11, R"(%.3u%u)", "b3w54"},
    {cft_Hid, 12, R"(%u)", "l543Z"},
    {cft_Hid, 13, R"(%.3u%u\n)", "b3 w54"},
    {cft_Hid, 14, R"(%u\t%u\t%u)", "b0 b3 w54"},
    {cft_Hid, 15, R"(%.5u)", "w54"},
    {cft_Hid, 16, R"(%.5u)", "w54"},
    {cft_Hid, 17, R"(%U)", "l012Z"},
    {cft_Hid, 18, R"(%.2X000000%.2X%.2X%.2X01)", "bY b3 b4 b5"},
    {cft_Hid, 19, R"(01%.4X%.4X%.4X%.2X)", "w45 w23 w01 bX"},
    {cft_Hid, 20, R"(0000000000%.2X%.2X%.2X)", "b3 b4 b5"},
    {cft_Hid, 21, R"(%.4X6C001A)", "AD1"},

    {cft_Emm, 1, R"(%.2X%.2X%.2X%.2X)", "b1 b2 b3 b4"},
    {cft_Emm, 2, R"(%.2X00%.2X%.2X%.2X%.2X%.2X01)", "bX b0 b1 b2 b3 b4"},
    {cft_Emm, 3, R"(%.2X00%.2X%.2X%.2X%.2X%.2X01)", "bY b0 b1 b2 b3 b4"},
    {cft_Emm, 4, R"(%.2X000000%.2X%.2X%.2X01)", "bY b2 b3 b4"},
    {cft_Emm, 5, R"(%.2X%.2X%.2X%.2X)", "b1 b2 b3 b4"},
    {cft_Emm, 6, R"(%.2X%.2X%.2X%.2X)", "b1 b2 b3 b4"},
    {cft_Emm, 7, R"(%.2X%.2X%.2X%.2X)", "b1 b2 b3 b4"},
    {cft_Emm, 8, R"(%.2X%.2X%.2X%.2X)", "b1 b2 b3 b4"},
    {cft_Emm, 9, R"(%.2X%.2X%.2X%.2X)", "b1 b2 b3 b4"},
    {cft_Emm, 10, R"(%.2X%.2X%.2X%.2X22)", "b4 b3 b2 b1"},
    {cft_Emm, 11, R"(%u\t%u)", "b2 w43"},
    {cft_Emm, 12, R"(%u)", "l432Z"},
    {cft_Emm, 13, R"(%u)", "w43"},
    {cft_Emm, 14, R"(%.3u%u)", "b2w43"},
    {cft_Emm, 15, R"(%u)", "l432Z"},
    {cft_Emm, 16, R"(%.3u%u\n)", "b2 w43"},
    {cft_Emm, 17, R"(%u\t%u\t%u)", "w10 b2 w43"},
    {cft_Emm, 18, R"(%.3U\t%.5U)", "b2 w43"},
    {cft_Emm, 19, R"(%.3U%.5U)", "b2 w43"},
    {cft_Emm, 20, R"(%U)", "l012Z"},
    {cft_Emm, 21, R"(\-sy)", ""},
    {cft_Emm, 22, R"(%.12X)", "W26"},
    {cft_Emm, 23, R"(%.2X%.2X%.2X%.2X%.2X00)", "b4 b3 b2 b1 b0"},
    {cft_Emm, 24, R"(%.2X000000%.2X%.2X%.2X01)", "bY b2 b3 b4"},
    {cft_Emm, 25, R"(%.2X%.2X%.2X001A\n)", "~b4 ~b3 ~b2"},
    {cft_Emm, 26, R"([%.2X%.2X](%.3U,%.5U))", "b0 b1 b2 w43"},
    {cft_Emm, 27, R"(%.2X000000%.2X%.2X%.2X01)", "bV ^b2 ^b3 ^b4"},
    {cft_Emm, 28, R"(%.3U,%.5U)", "b2 w43"},

    {cft_iCode, 1, R"(%.3U\t%.5U)", "b5 w76"},
    {cft_iCode, 2, R"(%.3U%.5U)", "b5 w76"},

    {cft_Ex, 1, R"(%.2X %.2X %.2X %.2X %.2X %.2X\r)", "b0 b1 b2 b3 b4 b5"},
};

// The byte count of a class's cards in the format editor.
inline int StdClassByteCount(TCvtFmtType ACls) {
  static const int kCounts[kCvtFmtTypeCount] = {7, 4, 6, 5, 8, 16};
  return kCounts[ACls];
}
