// The built-in standard formats compiled into the program.
#include <gtest/gtest.h>

#include <QFile>
#include <QSet>

#include "IniFile.h"
#include "Profiles.h"

namespace {

struct Golden {
  const char* section;
  const char* templ;
  const char* replaces;
};

// Every standard format's template and parameters, exactly; the sections in
// the order the file holds them.
const Golden kGolden[] = {
    {"mul.1", "%.2X%.2X%.2X%.2X", "b0 b6 b5 b4"},
    {"mul.2", "%.2X%.2X%.2X%.2X", "b0 b6 b5 b4"},
    {"mul.3", "%.2X%.2X%.2X%.2X", "b0 b6 b5 b4"},
    {"mul.4", "%.2X%.2X%.2X%.2X", "b0 b6 b5 b4"},
    {"mul.5", "%.2X%.2X%.2X%.2X", "b0 b6 b5 b4"},
    {"mul.6", "%.2X%.2X%.2X%.2X22", "b4 b5 b6 b0"},
    {"mul.7", R"(%u\t%u)", "b6 w45"},
    {"mul.8", R"(%u\t%u)", "b6 w45"},
    {"mul.9", "%u", "l456Z"},
    {"mul.10", "%u", "l4560"},
    {"mul.11", R"(%.2u%u\n)", "b6 w45"},
    {"mul.12", R"(%u\t%u\t%u)", "w01 b6 w45"},
    {"mul.13", R"(004\t%.5U)", "w65"},
    {"mul.14", "004%.5U", "w65"},
    {"mul.15", "%U", "l012Z"},
    {"mul.16", "%.2X%.2X%.2X%.2X%.2X%.2X%.2X%.2X", "b6 b5 b4 b3 b2 b1 b0 bX"},

    {"m1k.1", "%.2X%.2X%.2X%.2X", "b3 b2 b1 b0"},
    {"m1k.2", "%.2X%.2X%.2X%.2X", "b3 b2 b1 b0"},
    {"m1k.3", "%.2X%.2X%.2X%.2X", "b3 b2 b1 b0"},
    {"m1k.4", "%.2X%.2X%.2X%.2X", "b3 b2 b1 b0"},
    {"m1k.5", "%.2X%.2X%.2X%.2X", "b3 b2 b1 b0"},
    {"m1k.6", "%.2X%.2X%.2X%.2X22", "b0 b1 b2 b3"},
    {"m1k.7", R"(%u\t%u)", "b3 w01"},
    {"m1k.8", R"(%u\t%u)", "b3 w01"},
    {"m1k.9", "%u", "l012Z"},
    {"m1k.10", "%u", "l0123"},
    {"m1k.11", R"(%.2u%u\n)", "b2 w01"},
    {"m1k.12", R"(%.2u\t%u)", "b2 w01"},
    {"m1k.13", R"(%u\t%u\t%u)", "b3 b2 w01"},
    {"m1k.14", R"(%.3U\t%.5U)", "b1 w32"},
    {"m1k.15", "%.3U%.5U", "b1 w32"},
    {"m1k.16", "%U", "l012Z"},
    {"m1k.17", "%.2X000000%.2X%.2X%.2X01", "bY b2 b1 b0"},
    {"m1k.18", R"(%.3U\#44%.5U)", "b2 w01"},

    {"hid.1", "%.2X%.2X%.2X%.2X", "b0 b3 b4 b5"},
    {"hid.2", "%.2X%.2X%.2X%.2X", "b0 b3 b4 b5"},
    {"hid.3", "%.2X%.2X%.2X%.2X", "b0 b3 b4 b5"},
    {"hid.4", "%.2X%.2X%.2X%.2X", "b0 b3 b4 b5"},
    {"hid.5", "%.2X%.2X%.2X%.2X", "b0 b3 b4 b5"},
    {"hid.6", "%.2X%.2X%.2X%.2X", "b0 b3 b4 b5"},
    {"hid.7", "%.2X%.2X%.2X%.2X22", "b5 b4 b3 b0"},
    {"hid.8", R"(%u\t%u)", "b3 w54"},
    {"hid.9", "%u", "l543Z"},
    {"hid.10", "%u", "w54"},
    {"hid.11", "%.3u%u", "b3w54"},
    {"hid.12", "%u", "l543Z"},
    {"hid.13", R"(%.3u%u\n)", "b3 w54"},
    {"hid.14", R"(%u\t%u\t%u)", "b0 b3 w54"},
    {"hid.15", "%.5u", "w54"},
    {"hid.16", "%.5u", "w54"},
    {"hid.17", "%U", "l012Z"},
    {"hid.18", "%.2X000000%.2X%.2X%.2X01", "bY b3 b4 b5"},
    {"hid.19", "01%.4X%.4X%.4X%.2X", "w45 w23 w01 bX"},
    {"hid.20", "0000000000%.2X%.2X%.2X", "b3 b4 b5"},
    {"hid.21", "%.4X6C001A", "AD1"},

    {"emm.1", "%.2X%.2X%.2X%.2X", "b1 b2 b3 b4"},
    {"emm.2", "%.2X00%.2X%.2X%.2X%.2X%.2X01", "bX b0 b1 b2 b3 b4"},
    {"emm.3", "%.2X00%.2X%.2X%.2X%.2X%.2X01", "bY b0 b1 b2 b3 b4"},
    {"emm.4", "%.2X000000%.2X%.2X%.2X01", "bY b2 b3 b4"},
    {"emm.5", "%.2X%.2X%.2X%.2X", "b1 b2 b3 b4"},
    {"emm.6", "%.2X%.2X%.2X%.2X", "b1 b2 b3 b4"},
    {"emm.7", "%.2X%.2X%.2X%.2X", "b1 b2 b3 b4"},
    {"emm.8", "%.2X%.2X%.2X%.2X", "b1 b2 b3 b4"},
    {"emm.9", "%.2X%.2X%.2X%.2X", "b1 b2 b3 b4"},
    {"emm.10", "%.2X%.2X%.2X%.2X22", "b4 b3 b2 b1"},
    {"emm.11", R"(%u\t%u)", "b2 w43"},
    {"emm.12", "%u", "l432Z"},
    {"emm.13", "%u", "w43"},
    {"emm.14", "%.3u%u", "b2w43"},
    {"emm.15", "%u", "l432Z"},
    {"emm.16", R"(%.3u%u\n)", "b2 w43"},
    {"emm.17", R"(%u\t%u\t%u)", "w10 b2 w43"},
    {"emm.18", R"(%.3U\t%.5U)", "b2 w43"},
    {"emm.19", "%.3U%.5U", "b2 w43"},
    {"emm.20", "%U", "l012Z"},
    {"emm.21", R"(\-sy)", ""},
    {"emm.22", "%.12X", "W26"},
    {"emm.23", "%.2X%.2X%.2X%.2X%.2X00", "b4 b3 b2 b1 b0"},
    {"emm.24", "%.2X000000%.2X%.2X%.2X01", "bY b2 b3 b4"},
    {"emm.25", R"(%.2X%.2X%.2X001A\n)", "~b4 ~b3 ~b2"},
    {"emm.26", "[%.2X%.2X](%.3U,%.5U)", "b0 b1 b2 w43"},
    {"emm.27", "%.2X000000%.2X%.2X%.2X01", "bV ^b2 ^b3 ^b4"},
    {"emm.28", "%.3U,%.5U", "b2 w43"},

    {"ic.1", R"(%.3U\t%.5U)", "b5 w76"},
    {"ic.2", "%.3U%.5U", "b5 w76"},

    {"ex.1", R"(%.2X %.2X %.2X %.2X %.2X %.2X\r)", "b0 b1 b2 b3 b4 b5"},
};

const int kClassCounts[kCvtFmtTypeCount] = {16, 18, 21, 28, 2, 1};

QByteArray Resource() {
  QFile f(":/rcdata/STDFMTS");
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST(StdFormats, EveryFormatAsGiven) {
  TStdProfile std;
  ASSERT_TRUE(std.LoadFromRes("STDFMTS"));
  EXPECT_FALSE(std.Opened());
  EXPECT_TRUE(std.Path().isEmpty());

  int total = 0;
  for (int c = 0; c < kCvtFmtTypeCount; ++c) {
    const TCvtFmtType tip = TCvtFmtType(c);
    const TUIntKeyObjectList& list = std.GetFmtList(tip);
    EXPECT_EQ(list.Count(), kClassCounts[c]) << CvtFmtTypeName(tip).toStdString();
    EXPECT_EQ(std.NextId(tip), uint32_t(kClassCounts[c] + 1));
    for (int i = 0; i < list.Count(); ++i) {
      const TCvtFmt& f = *list.Items(i);
      EXPECT_EQ(f.m_nFmtId, uint32_t(i + 1));  // ids 1..n in section order
      const QString section = CvtFmtTypeName(tip).toLower() + '.' + QString::number(f.m_nFmtId);
      ASSERT_LT(total, int(std::size(kGolden)));
      const Golden& g = kGolden[total++];
      EXPECT_EQ(section, g.section);
      EXPECT_EQ(f.m_sTemplate, g.templ) << g.section;
      EXPECT_EQ(f.m_sReplaces, g.replaces) << g.section;
    }
  }
  EXPECT_EQ(total, 86);
  EXPECT_EQ(std.GetFmtList(cft_Ex).Items(0)->m_sName, "basic");
  EXPECT_EQ(std.GetFmtList(cft_Emm).GetValue(4)->m_sHint, "");
}

TEST(StdFormats, NamesAndHints) {
  TStdProfile std;
  ASSERT_TRUE(std.LoadFromRes("STDFMTS"));
  for (int c = 0; c < kCvtFmtTypeCount; ++c) {
    QSet<QString> seen;
    for (const auto& f : std.GetFmtList(TCvtFmtType(c))) {
      EXPECT_FALSE(f->m_sName.trimmed().isEmpty()) << f->m_nFmtId;
      EXPECT_FALSE(seen.contains(f->m_sName.toCaseFolded())) << f->m_sName.toStdString();
      seen.insert(f->m_sName.toCaseFolded());
    }
  }
}

// The stored text itself: what other readers of the file (and a language's
// own file made from it) rely on.
TEST(StdFormats, FileLayout) {
  const QByteArray bytes = Resource();
  ASSERT_FALSE(bytes.isEmpty());
  EXPECT_FALSE(bytes.startsWith("\xEF\xBB\xBF"));
  EXPECT_TRUE(bytes.endsWith("\r\n"));
  EXPECT_EQ(bytes.count("\r\n"), bytes.count('\n'));
  EXPECT_EQ(bytes.count("\r\n"), bytes.count('\r'));

  const TIniFile ini = TIniFile::FromBytes(bytes);
  QStringList expected;
  for (const Golden& g : kGolden) expected << g.section;
  EXPECT_EQ(ini.ReadSections(), expected);  // lower-case words, in order, no "Main"

  const QStringList keys = {"name", "hint", "template", "replaces"};
  for (const Golden& g : kGolden) {
    QStringList stored;
    for (const TIniFile::KeyValue& kv : ini.ReadSectionValues(g.section)) {
      stored << kv.first;
      if (kv.first == "hint") {
        EXPECT_FALSE(kv.second.contains('\\')) << g.section;  // no escapes
      }
    }
    if (QString(g.section) == "emm.4") {
      EXPECT_EQ(stored, QStringList({"name", "template", "replaces"}));
    } else {
      EXPECT_EQ(stored, keys) << g.section;
    }
  }
}

TEST(StdFormats, UnknownResourceChangesNothing) {
  TStdProfile std;
  ASSERT_TRUE(std.LoadFromRes("STDFMTS"));
  EXPECT_FALSE(std.LoadFromRes("NOSUCH"));
  EXPECT_FALSE(std.LoadFromRes(""));
  EXPECT_EQ(std.GetFmtList(cft_Emm).Count(), 28);
  // Loading again replaces, never adds.
  ASSERT_TRUE(std.LoadFromRes("STDFMTS"));
  EXPECT_EQ(std.GetFmtList(cft_Emm).Count(), 28);
}

}  // namespace
