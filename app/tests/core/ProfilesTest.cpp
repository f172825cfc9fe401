// Formats, keyed format lists, profiles and their files.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "common/ConfigHome.h"
#include "Profiles.h"

namespace {

TEST(CardTypes, ClassOfEveryTypeAndClassWords) {
  const TCvtFmtType expected[] = {cft_MUL, cft_MUL,   cft_M1K, cft_Hid, cft_Emm, cft_Emm,
                                  cft_iCode, cft_MUL, cft_M1K, cft_Ex,  cft_MUL};
  for (int t = 0; t <= 10; ++t) EXPECT_EQ(CardTypeToCvtFmtType(TovkCardType(t)), expected[t]) << t;
  EXPECT_EQ(CardTypeToCvtFmtType(TovkCardType(11)), cft_MUL);
  EXPECT_EQ(CardTypeToCvtFmtType(TovkCardType(255)), cft_MUL);
  const char* words[] = {"MUL", "M1K", "HID", "EMM", "IC", "EX"};
  for (int c = 0; c < kCvtFmtTypeCount; ++c) EXPECT_EQ(CvtFmtTypeName(TCvtFmtType(c)), words[c]);
  EXPECT_EQ(CvtFmtTypeName(TCvtFmtType(6)), "MUL");
}

TEST(HintEscapes, WrittenOnOneLineAndReadBack) {
  const struct {
    QString hint, stored, readBack;
  } cases[] = {
      {"plain", "plain", "plain"},
      {"a\r\nb", R"(a\nb)", "a\nb"},
      {"a\nb", R"(a\nb)", "a\nb"},
      {"a\rb", R"(a\nb)", "a\nb"},
      {"a\n\r\n\rb", R"(a\n\n\nb)", "a\n\n\nb"},
      {"\r\n", R"(\n)", "\n"},
      // A typed backslash before "n" is no line break, in either direction.
      {R"(C:\new)", R"(C:\\new)", R"(C:\new)"},
      {"C:\\\nx", R"(C:\\\nx)", "C:\\\nx"},
      {R"(end\)", R"(end\\)", R"(end\)"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(EscapeHint(c.hint), c.stored) << c.hint.toStdString();
    EXPECT_EQ(UnescapeHint(c.stored), c.readBack) << c.stored.toStdString();
  }
  // Stored texts that no writer makes: an unknown escape vanishes, a lone
  // backslash at the end stays.
  EXPECT_EQ(UnescapeHint(R"(a\qb)"), "ab");
  EXPECT_EQ(UnescapeHint(R"(ab\)"), R"(ab\)");
  EXPECT_EQ(UnescapeHint(R"(\\\)"), R"(\\)");
}

std::unique_ptr<TCvtFmt> Fmt(uint32_t id, const char* name = "") {
  auto f = std::make_unique<TCvtFmt>();
  f->m_nFmtId = id;
  f->m_sName = QString::fromLatin1(name);
  return f;
}

std::vector<uint32_t> Keys(const TUIntKeyObjectList& l) {
  std::vector<uint32_t> keys;
  for (const auto& f : l) keys.push_back(f->m_nFmtId);
  return keys;
}

TEST(KeyedList, KeepsKeysOrderedAndUnique) {
  TUIntKeyObjectList l;
  EXPECT_EQ(l.Add(Fmt(5)), 0);
  EXPECT_EQ(l.Add(Fmt(0x80000000u)), 1);  // keys compare unsigned
  EXPECT_EQ(l.Add(Fmt(1)), 0);
  EXPECT_EQ(l.Add(Fmt(7)), 2);
  EXPECT_EQ(l.Add(Fmt(7, "second")), -1);  // refused, never a second 7
  EXPECT_EQ(l.Add(nullptr), -1);
  EXPECT_EQ(Keys(l), (std::vector<uint32_t>{1, 5, 7, 0x80000000u}));
  EXPECT_EQ(l.GetValue(7)->m_sName, "");
  EXPECT_EQ(l.IndexOf(0x80000000u), 3);
  EXPECT_EQ(l.IndexOf(6), -1);
  EXPECT_FALSE(l.Lookup(0));
  EXPECT_EQ(l.GetValue(6), nullptr);
  EXPECT_EQ(l.Items(4), nullptr);
  EXPECT_EQ(l.Items(-1), nullptr);

  l.Remove(5);
  l.Remove(6);  // absent: nothing
  l.Delete(9);  // outside: nothing
  l.Delete(0);
  EXPECT_EQ(Keys(l), (std::vector<uint32_t>{7, 0x80000000u}));

  TUIntKeyObjectList copy;
  copy.Add(Fmt(3));
  copy.Assign(l);
  EXPECT_EQ(Keys(copy), Keys(l));
  EXPECT_NE(copy.Items(0), l.Items(0));  // copies, not shared formats
  l.Clear();
  EXPECT_EQ(l.Count(), 0);
  EXPECT_EQ(copy.Count(), 2);

  TUIntKeyObjectList::ObjectVector loose;
  for (auto [id, name] : {std::pair{9u, "a"}, {2u, "b"}, {9u, "c"}, {4u, "d"}})
    loose.push_back(Fmt(id, name));
  loose.push_back(nullptr);
  copy.SetList(std::move(loose));
  EXPECT_EQ(Keys(copy), (std::vector<uint32_t>{2, 4, 9}));
  EXPECT_EQ(copy.GetValue(9)->m_sName, "a");  // the first of equal keys stays
}

// Profiles live under a private configuration home.
class Profiles : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(home_.isValid());
  }

  QString Path(const QString& name) const { return home_.filePath(name); }
  static void Put(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
  }
  static QByteArray Get(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
  }

  ConfigHome home_;
};

// "id name" of each format of a class, in list order.
QStringList Listed(const TProfile& p, TCvtFmtType tip) {
  QStringList out;
  for (const auto& f : p.GetFmtList(tip)) out << QString("%1 %2").arg(f->m_nFmtId).arg(f->m_sName);
  return out;
}

TEST_F(Profiles, LoadingRules) {
  Put(Path("p.ini"),
      "[Main]\nCurMULFmt=x\n"
      "[mul.3]\nname=first\nhint=h\\\\1\\n2\ntemplate=\"%u \"\nreplaces=b0\n"
      "[MUL.3]\nname=duplicate\n"
      "[MUL.7]\nname=seven\n"
      "[MUL.2]\nname=two\n"
      "[MUL.5]\nname=\n"          // empty name: no format
      "[MUL.6]\nhint=nameless\n"  // no name: no format
      "[MUL]\nname=no id\n"
      "[MUL.x]\nname=no number\n"
      "[MUL.0]\nname=zero\n"
      "[MUL.-4]\nname=negative\n"
      "[MUL.1-2]\nname=malformed\n"
      "[MUL.2147483648]\nname=beyond 32 bits\n"
      "[MUL.99999999999]\nname=far beyond\n"
      "[MULX.1]\nname=other word\n"
      "[ emm . 12 ]\nname=blanks\n"
      "[hid.+4th]\nname=plus sign, text after the number\n"
      "[EX.1]\nname=ex\n");
  TProfile p;
  ASSERT_TRUE(p.Open(Path("p.ini")));
  EXPECT_TRUE(p.Opened());
  EXPECT_EQ(p.Path(), Path("p.ini"));
  EXPECT_EQ(Listed(p, cft_MUL), QStringList({"2 two", "3 first", "7 seven"}));
  EXPECT_EQ(p.NextId(cft_MUL), 8u);
  EXPECT_EQ(Listed(p, cft_Emm), QStringList({"12 blanks"}));
  EXPECT_EQ(Listed(p, cft_Hid), QStringList({"4 plus sign, text after the number"}));
  EXPECT_EQ(Listed(p, cft_Ex), QStringList({"1 ex"}));
  EXPECT_EQ(p.NextId(cft_Ex), 2u);
  EXPECT_TRUE(Listed(p, cft_M1K).isEmpty());
  EXPECT_EQ(p.NextId(cft_M1K), 1u);
  const TCvtFmt* f = p.GetFmtList(cft_MUL).GetValue(3);
  EXPECT_EQ(f->m_sHint, "h\\1\n2");
  EXPECT_EQ(f->m_sTemplate, "%u ");
  EXPECT_EQ(f->m_sReplaces, "b0");
}

TEST_F(Profiles, OpenOfAMissingOrUnreadableFileChangesNothing) {
  Put(Path("a.ini"), "[MUL.1]\nname=a\n[Main]\nCurMULFmt=a\nCurMULFmtStd=0\n");
  TStdProfile std;
  TUsrProfile p(&std);
  ASSERT_TRUE(p.Open(Path("a.ini")));
  ASSERT_TRUE(QDir(home_.path()).mkdir("dir.ini"));
  for (const QString& bad : {Path("missing.ini"), Path("dir.ini"), QString()}) {
    EXPECT_FALSE(p.Open(bad)) << bad.toStdString();
    EXPECT_FALSE(p.LoadFromIni(bad)) << bad.toStdString();
    EXPECT_TRUE(p.Opened());
    EXPECT_EQ(p.Path(), Path("a.ini"));
    EXPECT_EQ(p.ProfileName(), "a");
    EXPECT_EQ(Listed(p, cft_MUL), QStringList({"1 a"}));
    EXPECT_EQ(p.GetCurFmtName(cft_MUL), "a");
  }
}

TEST_F(Profiles, IdsAndRenumberingOnSave) {
  Put(Path("p.ini"), "[MUL.2]\nname=two\n[MUL.7]\nname=seven\n");
  TProfile p;
  ASSERT_TRUE(p.LoadFromIni(Path("p.ini")));
  EXPECT_FALSE(p.Opened());
  EXPECT_TRUE(p.Path().isEmpty());
  const TCvtFmt* added = nullptr;
  ASSERT_TRUE(p.AddFmt(cft_MUL, "eight", "l1\nl2", " t ", "b1", added));
  EXPECT_EQ(added->m_nFmtId, 8u);
  EXPECT_EQ(p.NextId(cft_MUL), 9u);
  ASSERT_TRUE(p.AddFmt(TCvtFmtType(9), "out of range", "", "", "", added));  // the first class
  EXPECT_EQ(Listed(p, cft_MUL).last(), "9 out of range");
  ASSERT_TRUE(p.AddFmt(cft_Ex, "ex", "", "%.2X", "b0", added));

  ASSERT_TRUE(p.SaveToIni(Path("out.ini")));
  EXPECT_EQ(Get(Path("out.ini")),
            "[MUL.1]\nname=two\nhint=\ntemplate=\nreplaces=\n"
            "[MUL.2]\nname=seven\nhint=\ntemplate=\nreplaces=\n"
            "[MUL.3]\nname=eight\nhint=l1\\nl2\ntemplate=\" t \"\nreplaces=b1\n"
            "[MUL.4]\nname=out of range\nhint=\ntemplate=\nreplaces=\n"
            "[EX.1]\nname=ex\nhint=\ntemplate=%.2X\nreplaces=b0\n");
  EXPECT_EQ(Listed(p, cft_MUL), QStringList({"2 two", "7 seven", "8 eight", "9 out of range"}));
  EXPECT_FALSE(p.Opened());

  // Saving over a file replaces what it held.
  Put(Path("old.ini"), "[HID.1]\nname=old\n");
  ASSERT_TRUE(p.SaveToIni(Path("old.ini")));
  TProfile back;
  ASSERT_TRUE(back.Open(Path("old.ini")));
  EXPECT_EQ(Listed(back, cft_MUL), QStringList({"1 two", "2 seven", "3 eight", "4 out of range"}));
  EXPECT_TRUE(Listed(back, cft_Hid).isEmpty());
  EXPECT_EQ(back.GetFmtList(cft_MUL).GetValue(3)->m_sTemplate, " t ");

  EXPECT_FALSE(p.SaveToIni(Path("no/folder/x.ini")));
  EXPECT_FALSE(p.SaveToIni(QString()));
}

TEST_F(Profiles, IdsFromTheGapsOnceCountingReachedTheTop) {
  // The top id itself, and one below it (counting then stands at the top).
  for (const char* top : {"2147483646", "2147483647"}) {
    Put(Path("p.ini"), QByteArray("[MUL.1]\nname=a\n[MUL.2]\nname=b\n[MUL.4]\nname=d\n[MUL.") + top +
                           "]\nname=top\n");
    TProfile p;
    ASSERT_TRUE(p.Open(Path("p.ini")));
    const uint32_t next = QByteArray(top).toUInt() + 1;
    EXPECT_EQ(p.NextId(cft_MUL), next);
    const TCvtFmt* f = nullptr;
    ASSERT_TRUE(p.AddFmt(cft_MUL, "gap", "", "", "", f));
    EXPECT_EQ(f->m_nFmtId, 3u) << top;
    ASSERT_TRUE(p.AddFmt(cft_MUL, "next gap", "", "", "", f));
    EXPECT_EQ(f->m_nFmtId, 5u) << top;
    EXPECT_EQ(p.NextId(cft_MUL), next);
    TProfile back;
    ASSERT_TRUE(back.Open(Path("p.ini")));
    EXPECT_EQ(Listed(back, cft_MUL),
              QStringList({"1 a", "2 b", "3 gap", "4 d", "5 next gap", QString(top) + " top"}));
  }
}

TEST_F(Profiles, BoundProfileWritesEveryChangeAtOnce) {
  TProfile p;
  ASSERT_TRUE(p.New(Path("b.ini")));
  EXPECT_EQ(Get(Path("b.ini")), "");
  const TCvtFmt* f = nullptr;
  ASSERT_TRUE(p.AddFmt(cft_Hid, "h", "line 1\r\nline 2\\", "%u", "w54", f));
  ASSERT_TRUE(p.AddFmt(cft_Hid, "second", "", "", "", f));
  EXPECT_EQ(Get(Path("b.ini")),
            "[HID.1]\nname=h\nhint=line 1\\nline 2\\\\\ntemplate=%u\nreplaces=w54\n"
            "[HID.2]\nname=second\nhint=\ntemplate=\nreplaces=\n");
  // Line breaks of every kind and backslashes come back from the file; a
  // break reads as this desktop's own.
  ASSERT_TRUE(p.UpdFmt(cft_Hid, 2, QStringLiteral("Второй"), "a\r\nb\nc\\nd\re\\", "", ""));
  TProfile back;
  ASSERT_TRUE(back.Open(Path("b.ini")));
  EXPECT_EQ(back.GetFmtList(cft_Hid).GetValue(1)->m_sHint, "line 1\nline 2\\");
  EXPECT_EQ(back.GetFmtList(cft_Hid).GetValue(2)->m_sHint, "a\nb\nc\\nd\ne\\");
  EXPECT_EQ(back.GetFmtList(cft_Hid).GetValue(2)->m_sName, QStringLiteral("Второй"));
  ASSERT_TRUE(p.UpdFmt(cft_Hid, 1, "H", "new\nhint", "%x", "b0"));
  EXPECT_EQ(p.GetFmtList(cft_Hid).GetValue(1)->m_sName, "H");
  ASSERT_TRUE(p.DelFmt(cft_Hid, 2));
  EXPECT_EQ(Get(Path("b.ini")), "[HID.1]\nname=H\nhint=new\\nhint\ntemplate=%x\nreplaces=b0\n");
  EXPECT_FALSE(p.UpdFmt(cft_Hid, 2, "gone", "", "", ""));
  EXPECT_FALSE(p.DelFmt(cft_Hid, 2));
  EXPECT_FALSE(p.DelFmt(cft_MUL, 1));
  EXPECT_TRUE(p.FmtExists(cft_Hid, 1));
  EXPECT_FALSE(p.FmtExists(cft_Hid, 2));

  // The file deleted behind the profile's back.
  ASSERT_TRUE(QFile::remove(Path("b.ini")));
  EXPECT_FALSE(p.AddFmt(cft_Hid, "lost", "", "", "", f));
  EXPECT_EQ(p.GetFmtList(cft_Hid).Count(), 1);
  EXPECT_EQ(p.NextId(cft_Hid), 3u);
  EXPECT_FALSE(QFileInfo::exists(Path("b.ini")));
  ASSERT_TRUE(p.UpdFmt(cft_Hid, 1, "again", "", "", ""));  // made again, with that one format
  EXPECT_EQ(Get(Path("b.ini")), "[HID.1]\nname=again\nhint=\ntemplate=\nreplaces=\n");
  ASSERT_TRUE(QFile::remove(Path("b.ini")));
  EXPECT_TRUE(p.DelFmt(cft_Hid, 1));  // nothing to erase in a missing file
  EXPECT_FALSE(QFileInfo::exists(Path("b.ini")));
}

TEST_F(Profiles, UpdatesAndDeletionsReachEverySpellingOfASection) {
  // A hand-edited file may spell a format's section in several ways, or
  // hold it twice; the first one loads. An update or a deletion must leave
  // none behind that a later load would bring back.
  const struct {
    const char* file;
    TCvtFmtType tip;
    uint32_t id;
  } cases[] = {
      {"[mul.03]\nname=old\n", cft_MUL, 3},
      {"[hid.+4]\nname=old\n", cft_Hid, 4},
      {"[ emm . 12 ]\nname=old\n", cft_Emm, 12},
      {"[mul.3]\nname=old\n[MUL.3]\nname=stale\n", cft_MUL, 3},
  };
  for (const auto& c : cases) {
    Put(Path("s.ini"), QByteArray("[ic.1]\nname=other\n") + c.file);
    TProfile p;
    ASSERT_TRUE(p.Open(Path("s.ini"))) << c.file;
    ASSERT_TRUE(p.UpdFmt(c.tip, c.id, "new", "", "", "")) << c.file;
    TProfile updated;
    ASSERT_TRUE(updated.Open(Path("s.ini")));
    EXPECT_EQ(Listed(updated, c.tip), QStringList{QString("%1 new").arg(c.id)}) << c.file;
    ASSERT_TRUE(p.DelFmt(c.tip, c.id)) << c.file;
    TProfile deleted;
    ASSERT_TRUE(deleted.Open(Path("s.ini")));
    EXPECT_TRUE(Listed(deleted, c.tip).isEmpty()) << c.file;
    EXPECT_EQ(Listed(deleted, cft_iCode), QStringList{"1 other"}) << c.file;
  }
}

TEST_F(Profiles, FailedWritesLeaveMemoryAsItWas) {
  ASSERT_TRUE(QDir(home_.path()).mkdir("sub"));
  TProfile p;
  ASSERT_TRUE(p.New(Path("sub/p.ini")));
  const TCvtFmt* f = nullptr;
  ASSERT_TRUE(p.AddFmt(cft_Emm, "e", "", "t", "r", f));
  ASSERT_TRUE(QDir(Path("sub")).removeRecursively());
  EXPECT_FALSE(p.UpdFmt(cft_Emm, 1, "changed", "", "", ""));
  EXPECT_EQ(p.GetFmtList(cft_Emm).GetValue(1)->m_sName, "e");
  // A folder where the file should be: it can be neither read nor replaced.
  ASSERT_TRUE(QDir().mkpath(Path("sub/p.ini")));
  EXPECT_FALSE(p.AddFmt(cft_Emm, "x", "", "", "", f));
  EXPECT_FALSE(p.UpdFmt(cft_Emm, 1, "changed", "", "", ""));
  EXPECT_FALSE(p.DelFmt(cft_Emm, 1));
  EXPECT_FALSE(p.Clear());
  EXPECT_EQ(Listed(p, cft_Emm), QStringList({"1 e"}));
  EXPECT_EQ(p.NextId(cft_Emm), 2u);

  TProfile q;
  EXPECT_FALSE(q.New(Path("no/folder/q.ini")));
  EXPECT_FALSE(q.Opened());
  EXPECT_TRUE(q.Path().isEmpty());
  EXPECT_FALSE(TProfile::ClearIni(QString()));
}

TEST_F(Profiles, ClearCloseAndDelete) {
  Put(Path("c.ini"), "[MUL.4]\nname=m\n");
  TProfile p;
  ASSERT_TRUE(p.Open(Path("c.ini")));
  ASSERT_TRUE(p.Clear());
  EXPECT_EQ(Get(Path("c.ini")), "");
  EXPECT_EQ(p.GetFmtList(cft_MUL).Count(), 0);
  EXPECT_EQ(p.NextId(cft_MUL), 1u);

  const TCvtFmt* f = nullptr;
  ASSERT_TRUE(p.AddFmt(cft_MUL, "kept", "", "", "", f));
  EXPECT_TRUE(p.Close(false));
  EXPECT_FALSE(p.Opened());
  EXPECT_EQ(p.Path(), Path("c.ini"));
  ASSERT_TRUE(p.AddFmt(cft_MUL, "memory only", "", "", "", f));  // unbound
  EXPECT_EQ(Get(Path("c.ini")), "[MUL.1]\nname=kept\nhint=\ntemplate=\nreplaces=\n");
  ASSERT_TRUE(p.Clear());  // unbound: the file stays
  EXPECT_NE(Get(Path("c.ini")), "");

  ASSERT_TRUE(p.Open(Path("c.ini")));
  EXPECT_TRUE(p.Close(true));
  EXPECT_FALSE(QFileInfo::exists(Path("c.ini")));
  EXPECT_EQ(Listed(p, cft_MUL), QStringList({"1 kept"}));  // formats stay in memory
  ASSERT_TRUE(p.New(Path("c.ini")));
  ASSERT_TRUE(QFile::remove(Path("c.ini")));
  EXPECT_FALSE(p.Close(true));  // nothing to delete
  EXPECT_FALSE(p.Opened());

  // A profile file that is a symbolic link: the link goes, its target stays.
  Put(Path("target.ini"), "[MUL.1]\nname=t\n");
  ASSERT_TRUE(QFile::link(Path("target.ini"), Path("link.ini")));
  ASSERT_TRUE(p.Open(Path("link.ini")));
  EXPECT_TRUE(p.Close(true));
  EXPECT_FALSE(QFileInfo(Path("link.ini")).isSymLink());
  EXPECT_TRUE(QFileInfo::exists(Path("target.ini")));
}

TEST_F(Profiles, CopyFromAnotherProfileRenumbers) {
  Put(Path("src.ini"), "[EMM.5]\nname=five\nhint=h\n[EMM.9]\nname=nine\n[IC.3]\nname=ic\n");
  TProfile src;
  ASSERT_TRUE(src.Open(Path("src.ini")));
  TProfile copy;
  const TCvtFmt* f = nullptr;
  ASSERT_TRUE(copy.AddFmt(cft_MUL, "replaced", "", "", "", f));
  copy.LoadFromProfile(src);
  EXPECT_TRUE(Listed(copy, cft_MUL).isEmpty());
  EXPECT_EQ(Listed(copy, cft_Emm), QStringList({"1 five", "2 nine"}));
  EXPECT_EQ(copy.NextId(cft_Emm), 3u);
  EXPECT_EQ(Listed(copy, cft_iCode), QStringList({"1 ic"}));
  EXPECT_EQ(copy.NextId(cft_MUL), 1u);
  EXPECT_EQ(copy.GetFmtList(cft_Emm).GetValue(1)->m_sHint, "h");
  EXPECT_FALSE(copy.Opened());
  // Copies: a change of the source leaves them alone.
  ASSERT_TRUE(src.UpdFmt(cft_Emm, 5, "changed", "", "", ""));
  EXPECT_EQ(copy.GetFmtList(cft_Emm).GetValue(1)->m_sName, "five");
  src.LoadFromProfile(src);  // itself: renumbered in place
  EXPECT_EQ(Listed(src, cft_Emm), QStringList({"1 changed", "2 nine"}));
}

TEST_F(Profiles, CurrentFormatsOfAUserProfile) {
  TStdProfile std;
  const TCvtFmt* f = nullptr;
  ASSERT_TRUE(std.AddFmt(cft_M1K, "standard", "", "", "", f));
  TUsrProfile p(&std);
  for (int c = 0; c < kCvtFmtTypeCount; ++c) {
    EXPECT_EQ(p.GetCurFmtName(TCvtFmtType(c)), "");
    EXPECT_TRUE(p.GetCurFmtStd(TCvtFmtType(c)));
  }
  ASSERT_TRUE(p.AddFmt(cft_M1K, "own", "", "", "", f));
  EXPECT_EQ(p.GetCurFmtList(cft_M1K).Items(0)->m_sName, "standard");
  EXPECT_EQ(p.GetStdFmtList(cft_M1K).Items(0)->m_sName, "standard");
  p.SetCurFmtStd(cft_M1K, false);
  EXPECT_EQ(p.GetCurFmtList(cft_M1K).Items(0)->m_sName, "own");

  // The choices reach the file on closing, and only when one changed.
  Put(Path("u.ini"), "[Main]\nCurMULFmt=ABC\nCurMULFmtStd=0\nCurHidFmtStd=maybe\n");
  TUsrProfile u(&std);
  u.SetCurFmt(cft_Hid, "kept", false);
  ASSERT_TRUE(u.Open(Path("u.ini")));
  EXPECT_EQ(u.ProfileName(), "u");
  EXPECT_EQ(u.GetCurFmtName(cft_MUL), "ABC");
  EXPECT_FALSE(u.GetCurFmtStd(cft_MUL));
  EXPECT_EQ(u.GetCurFmtName(cft_Hid), "kept");  // missing from the file: stays
  EXPECT_FALSE(u.GetCurFmtStd(cft_Hid));        // not a number: stays
  EXPECT_TRUE(u.GetCurFmtStd(cft_Emm));
  // "kept" was set before opening, so the choice counts as changed; a fresh
  // object shows that an unchanged one writes nothing.
  TUsrProfile fresh(&std);
  ASSERT_TRUE(fresh.Open(Path("u.ini")));
  fresh.SetCurFmtName(cft_MUL, "abc");  // a change of case alone is none
  fresh.SetCurFmt(cft_MUL, "aBc", false);
  fresh.SetCurFmtStd(cft_MUL, false);
  EXPECT_TRUE(fresh.Close(false));
  EXPECT_EQ(Get(Path("u.ini")), "[Main]\nCurMULFmt=ABC\nCurMULFmtStd=0\nCurHidFmtStd=maybe\n");

  u.SetCurFmt(cft_Ex, " spaced ", true);
  u.SetCurFmtName(cft_iCode, "ic");
  EXPECT_TRUE(u.Close(false));
  EXPECT_EQ(Get(Path("u.ini")),
            "[Main]\nCurMULFmt=ABC\nCurMULFmtStd=0\nCurHidFmtStd=0\nCurM1kFmt=\nCurM1kFmtStd=1\n"
            "CurHidFmt=kept\nCurEmmFmt=\nCurEmmFmtStd=1\nCurICFmt=ic\nCurICFmtStd=1\n"
            "CurExFmt=\" spaced \"\nCurExFmtStd=1\n");
  TUsrProfile back(&std);
  ASSERT_TRUE(back.Open(Path("u.ini")));
  EXPECT_EQ(back.GetCurFmtName(cft_Ex), " spaced ");
  EXPECT_EQ(back.GetCurFmtName(cft_Hid), "kept");
}

TEST_F(Profiles, UserProfileFileLifecycle) {
  TStdProfile std;
  const QString path = Path("life.ini");
  {
    TUsrProfile p(&std);
    p.SetCurFmt(cft_MUL, "m", false);
    ASSERT_TRUE(p.New(path));  // the new, empty file takes nothing from the choices
    EXPECT_EQ(p.ProfileName(), "life");
    EXPECT_EQ(p.GetCurFmtName(cft_MUL), "m");
    const TCvtFmt* f = nullptr;
    ASSERT_TRUE(p.AddFmt(cft_MUL, "m", "", "%u", "b0", f));
  }  // going away saves the changed choices
  {
    TUsrProfile p(&std);
    ASSERT_TRUE(p.Open(path));
    EXPECT_EQ(p.GetCurFmtName(cft_MUL), "m");
    EXPECT_FALSE(p.GetCurFmtStd(cft_MUL));
    EXPECT_EQ(Listed(p, cft_MUL), QStringList({"1 m"}));
    // Saving elsewhere writes the formats and the choices.
    ASSERT_TRUE(p.SaveToIni(Path("copy.ini")));
    EXPECT_EQ(Get(Path("copy.ini")),
              "[MUL.1]\nname=m\nhint=\ntemplate=%u\nreplaces=b0\n[Main]\nCurMULFmt=m\nCurMULFmtStd=0\n"
              "CurM1kFmt=\nCurM1kFmtStd=1\nCurHidFmt=\nCurHidFmtStd=1\nCurEmmFmt=\nCurEmmFmtStd=1\n"
              "CurICFmt=\nCurICFmtStd=1\nCurExFmt=\nCurExFmtStd=1\n");
    // Clearing a bound profile empties the file, forgets every choice and
    // puts every class on its own formats; closing then keeps that.
    ASSERT_TRUE(p.Clear());
    EXPECT_EQ(Get(path), "");
    EXPECT_TRUE(p.Close(false));
  }
  TUsrProfile p(&std);
  ASSERT_TRUE(p.Open(path));
  for (int c = 0; c < kCvtFmtTypeCount; ++c) {
    EXPECT_EQ(p.GetCurFmtName(TCvtFmtType(c)), "");
    EXPECT_FALSE(p.GetCurFmtStd(TCvtFmtType(c)));
  }
  EXPECT_EQ(p.GetFmtList(cft_MUL).Count(), 0);
  // Deleting the file writes no choices first.
  p.SetCurFmtName(cft_Hid, "h");
  EXPECT_TRUE(p.Close(true));
  EXPECT_FALSE(QFileInfo::exists(path));
  // A profile without a file keeps its choices in memory only.
  TUsrProfile none(nullptr);
  none.SetCurFmtName(cft_Hid, "h");
  EXPECT_TRUE(none.Close(false));
  EXPECT_EQ(none.GetStdFmtList(cft_Hid).Count(), 0);
}

TEST_F(Profiles, ProfileNamesAndPaths) {
  const QString dir = home_.path() + "/Sorvex/profiles";
  EXPECT_EQ(GetProfilesDir(false), dir);
  EXPECT_FALSE(QFileInfo::exists(home_.path() + "/Sorvex"));
  EXPECT_EQ(GetProfilesDir(true), dir);
  EXPECT_TRUE(QFileInfo(home_.path() + "/Sorvex").isDir());
  EXPECT_FALSE(QFileInfo::exists(dir));  // not the profiles folder itself

  EXPECT_EQ(TProfile::GetProfilePath("usrfmts", false), dir + "/usrfmts.ini");
  EXPECT_FALSE(QFileInfo::exists(dir));
  EXPECT_EQ(TProfile::GetProfilePath("ABC.INI", true), dir + "/ABC.INI.ini");
  EXPECT_TRUE(QFileInfo(dir).isDir());

  // Names that cannot be a file of the profiles folder: no path, so that
  // creating or opening them fails.
  TStdProfile std;
  TUsrProfile p(&std);
  for (const QString& bad : {QString(), QString("."), QString(".."), QString("../x"), QString("a/b"),
                             QString("/etc/passwd"), QString("a") + QChar(0) + "b"}) {
    const QString path = TProfile::GetProfilePath(bad, true);
    EXPECT_TRUE(path.isEmpty()) << bad.toStdString();
    EXPECT_FALSE(p.New(path));
    EXPECT_FALSE(p.Open(path));
  }
  EXPECT_EQ(QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).size(), 0);

  // Names differing in case are different profiles.
  ASSERT_TRUE(p.New(TProfile::GetProfilePath("Work", true)));
  const TCvtFmt* f = nullptr;
  ASSERT_TRUE(p.AddFmt(cft_MUL, "upper", "", "", "", f));
  TUsrProfile q(&std);
  EXPECT_FALSE(q.Open(TProfile::GetProfilePath("work", false)));
  ASSERT_TRUE(q.New(TProfile::GetProfilePath("work", false)));
  EXPECT_EQ(q.ProfileName(), "work");
  EXPECT_EQ(QDir(dir).entryList(QDir::Files, QDir::Name), QStringList({"Work.ini", "work.ini"}));

  const struct {
    const char* path;
    const char* name;
  } names[] = {{"/a/b/usr.ini", "usr"}, {"usr.x.ini", "usr.x"}, {"/a/plain", "plain"},
               {"/a/.ini", ""},         {"/a.b/c", "c"},         {"ABC.INI.ini", "ABC.INI"}};
  for (const auto& n : names) EXPECT_EQ(TProfile::ExtractProfileName(n.path), n.name) << n.path;
}

TEST(TempFileStream, NewFileWithThePrefixDeletedWhenAsked) {
  QString kept;
  {
    TTempFileStream a("tmp");
    TTempFileStream b("tmp");
    ASSERT_TRUE(a.isOpen());
    EXPECT_NE(a.fileName(), b.fileName());
    EXPECT_TRUE(QFileInfo(a.fileName()).fileName().startsWith("tmp"));
    EXPECT_EQ(QFileInfo(a.fileName()).absolutePath(), QDir::tempPath());
    EXPECT_EQ(a.size(), 0);
    EXPECT_EQ(QFileInfo(a.fileName()).permissions() & (QFile::ReadOther | QFile::ReadGroup), 0);
    ASSERT_EQ(a.write("data"), 4);
    ASSERT_TRUE(a.seek(0));
    EXPECT_EQ(a.readAll(), "data");
    EXPECT_TRUE(a.AutoDel());
    b.SetAutoDel(false);
    kept = b.fileName();
    ASSERT_TRUE(QFileInfo::exists(a.fileName()));
  }
  EXPECT_TRUE(QFileInfo::exists(kept));
  QFile::remove(kept);

  // No temporary folder: no file, and nothing breaks.
  const QByteArray oldTmp = qgetenv("TMPDIR");
  qputenv("TMPDIR", "/nonexistent/folder");
  {
    TTempFileStream c("tmp");
    EXPECT_FALSE(c.isOpen());
  }
  qputenv("TMPDIR", oldTmp);
}

}  // namespace
