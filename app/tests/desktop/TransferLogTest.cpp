// The transfer log: its lines, its file name, and appends from several
// processes at once.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "AppUtils.h"
#include "TransferLog.h"
#include "common/FileSizeLimit.h"

namespace {

QByteArray Utf16Le(const QString& AText) {
  QByteArray b;
  for (QChar c : AText) {
    b.append(char(c.unicode() & 0xFF));
    b.append(char(c.unicode() >> 8));
  }
  return b;
}

QString FromUtf16Le(const QByteArray& ABytes) {
  QString s;
  for (qsizetype i = 0; i + 1 < ABytes.size(); i += 2)
    s += QChar(char16_t(uchar(ABytes[i]) | (uchar(ABytes[i + 1]) << 8)));
  return s;
}

QByteArray FileBytes(const QString& APath) {
  QFile f(APath);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

TEST(TransferLog, LineFormatAndTags) {
  const QDateTime at(QDate(2024, 3, 7), QTime(9, 5, 3));
  EXPECT_EQ(TransferLogLine(at, ovkc_1K, true, "Wiegand 26", "123#4445\\r", "Notepad"),
            "07/03/2024 09:05:03  \"123#4445\\r\" -> \"Notepad\" [M1K: \"Wiegand 26\" (std)]\r\n");
  EXPECT_EQ(TransferLogLine(at, ovkc_Hid, false, "", "", ""),
            "07/03/2024 09:05:03  \"\" -> \"\" [HID: \"\"]\r\n");
  // A text that was not typed: why, in place of an arrow and a window.
  EXPECT_EQ(TransferLogLine(at, ovkc_Ex, true, "basic", "08 07\\r", "", "[not typed: no window]"),
            "07/03/2024 09:05:03  \"08 07\\r\" [not typed: no window] [Ex: \"basic\" (std)]\r\n");
  struct Case {
    TovkCardType type;
    const char* word;
  } cases[] = {{ovkc_UL, "MUL"}, {ovkc_1K, "M1K"},       {ovkc_Hid, "HID"},   {ovkc_Em, "EMM"},
               {ovkc_Cod433, "433"}, {ovkc_iCode, "iCode"}, {ovkc_Df, "MDF"}, {ovkc_4K, "M4K"},
               {ovkc_DS, "DS"},   {ovkc_Unk, "Ex"},       {ovkc_Ex, "Ex"}};
  for (const auto& c : cases) EXPECT_EQ(CardTypeLogWord(c.type), c.word) << int(c.type);
}

TEST(TransferLog, BytesOfALineInTheFile) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString file = TransferLogFileName(dir.path(), "ttyUSB0");
  const QDateTime at(QDate(2031, 12, 31), QTime(23, 59, 58));
  ASSERT_TRUE(AppendTextToFile(TransferLogLine(at, ovkc_DS, false, "K", "1\\r", "Ж"), file));
  QFile f(file);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const char expected[] =
      "3\0" "1\0" "/\0" "1\0" "2\0" "/\0" "2\0" "0\0" "3\0" "1\0" " \0"
      "2\0" "3\0" ":\0" "5\0" "9\0" ":\0" "5\0" "8\0" " \0" " \0"
      "\"\0" "1\0" "\\\0" "r\0" "\"\0" " \0" "-\0" ">\0" " \0"
      "\"\0" "\x16\x04" "\"\0" " \0" "[\0" "D\0" "S\0" ":\0" " \0" "\"\0" "K\0" "\"\0" "]\0"
      "\r\0" "\n\0";
  EXPECT_EQ(f.readAll(), QByteArray(expected, sizeof expected - 1));
}

TEST(TransferLog, FileNamePerPortInsideTheFolder) {
  EXPECT_EQ(TransferLogFileName("/home/u/logs", "ttyUSB0"), "/home/u/logs/_ttyUSB0.log");
  EXPECT_EQ(TransferLogFileName("/home/u/logs", "pts/3"), "/home/u/logs/_pts_3.log");
  EXPECT_EQ(TransferLogFileName("/home/u/logs/", "ttyS0"), "/home/u/logs/_ttyS0.log");
  // No folder at all (no per-user folder to default to) is no file, never
  // one at the root of the file system.
  ASSERT_EQ(TransferLogFileName("", "ttyUSB0"), "");
  EXPECT_FALSE(WriteLog("", "ttyUSB0", ovkc_UL, true, "f", "1", "w"));
}

TEST(TransferLog, WriteLogAppendsUtf16LittleEndianWithoutMark) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  ASSERT_TRUE(WriteLog(dir.path(), "pts/3", ovkc_Em, false, "Мой", "0A1B", "<clipboard>"));
  ASSERT_TRUE(WriteLog(dir.path(), "pts/3", ovkc_Em, false, "Мой", "0A1C", "<clipboard>"));
  QFile f(TransferLogFileName(dir.path(), "pts/3"));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QByteArray bytes = f.readAll();
  const QString text = FromUtf16Le(bytes);
  const QStringList lines = text.split("\r\n");
  ASSERT_EQ(lines.size(), 3);
  EXPECT_TRUE(lines[0].endsWith("  \"0A1B\" -> \"<clipboard>\" [EMM: \"Мой\"]")) << lines[0].toStdString();
  EXPECT_TRUE(lines[1].endsWith("\"0A1C\" -> \"<clipboard>\" [EMM: \"Мой\"]"));
  EXPECT_EQ(lines[2], "");
  EXPECT_EQ(Utf16Le(text), bytes);  // no byte-order mark, nothing else
  ASSERT_GE(bytes.size(), 2);
  EXPECT_TRUE(bytes[0] >= '0' && bytes[0] <= '3' && bytes[1] == 0) << "the day first, no mark";

  // No folder: the line is lost, nothing is created, and the reason names
  // the file.
  QString why;
  EXPECT_FALSE(WriteLog(dir.path() + "/missing", "ttyUSB0", ovkc_UL, true, "f", "1", "w", {}, &why));
  EXPECT_FALSE(QDir(dir.path() + "/missing").exists());
  EXPECT_TRUE(why.startsWith(dir.path() + "/missing/_ttyUSB0.log: ")) << why.toStdString();
}

// A file that cannot take the whole line (a full disk, the file size limit)
// keeps the lines it had: the part that fitted is cut back, and the failure
// says why. The next append, with room again, lands right after them.
TEST(TransferLog, ALineThatDoesNotFitIsNotAppendedAtAll) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString file = dir.filePath("_ttyUSB0.log");
  const QString first = "07/03/2024 09:05:03  \"1\" -> \"w\" [EX: \"basic\"]\r\n";
  ASSERT_TRUE(AppendTextToFile(first, file));
  QString why;
  {
    // Room for part of the next line, ending in the middle of a character.
    FileSizeLimit limit(rlim_t(Utf16Le(first).size() + 11));
    EXPECT_FALSE(AppendTextToFile(first, file, &why));
  }
  EXPECT_FALSE(why.isEmpty());
  EXPECT_EQ(FileBytes(file), Utf16Le(first));
  ASSERT_TRUE(AppendTextToFile("second\r\n", file));
  EXPECT_EQ(FileBytes(file), Utf16Le(first + "second\r\n"));
}

// A log torn before (a crash, or an older program on a full disk) may end in
// the middle of a line, even in the middle of a character. The next line
// starts on a character of its own and on a line of its own, so that it and
// everything after it read as the text they are.
TEST(TransferLog, ALineAfterATornOneStartsAlignedOnALineOfItsOwn) {
  struct Case {
    const char* what;
    QByteArray before;
    QString after;  // the whole file once "next" was appended
  } cases[] = {
      {"empty", QByteArray(), "next\r\n"},
      {"whole lines", Utf16Le("a\r\n"), "a\r\nnext\r\n"},
      {"torn in a character", Utf16Le("a\r\nto") + 'r', "a\r\nto\r\nnext\r\n"},
      {"torn between characters", Utf16Le("a\r\nto"), "a\r\nto\r\nnext\r\n"},
      {"one byte", QByteArray("x"), "next\r\n"},
  };
  for (const Case& c : cases) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath("_pts_3.log");
    {
      QFile f(file);
      ASSERT_TRUE(f.open(QIODevice::WriteOnly));
      f.write(c.before);
    }
    ASSERT_TRUE(AppendTextToFile("next\r\n", file)) << c.what;
    EXPECT_EQ(FileBytes(file), Utf16Le(c.after)) << c.what;
  }
}

TEST(TransferLog, TwoProcessesAppendingLeaveWholeLines) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString file = dir.path() + "/_ttyUSB0.log";
  constexpr int kLines = 1000;
  // Long lines, so that a torn write would show.
  auto line = [](char AWho, int AIndex) {
    return QString("%1 %2 ").arg(AWho).arg(AIndex, 4, 10, QChar('0')) +
           QString(200, QChar(AWho)) + "\r\n";
  };
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int failed = 0;
    for (int i = 0; i < kLines; ++i) failed += !AppendTextToFile(line('b', i), file);
    _exit(failed ? 1 : 0);
  }
  int failed = 0;
  for (int i = 0; i < kLines; ++i) failed += !AppendTextToFile(line('a', i), file);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(failed, 0);

  QFile f(file);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  QStringList lines = FromUtf16Le(f.readAll()).split("\r\n");
  ASSERT_EQ(lines.size(), 2 * kLines + 1);
  lines.removeLast();
  int next[2] = {0, 0};
  for (const QString& l : lines) {
    const char who = l.isEmpty() ? '?' : l[0].toLatin1();
    ASSERT_TRUE(who == 'a' || who == 'b') << l.toStdString();
    int& n = next[who - 'a'];
    ASSERT_EQ(l + "\r\n", line(who, n)) << "torn or out of order";
    ++n;
  }
  EXPECT_EQ(next[0], kLines);
  EXPECT_EQ(next[1], kLines);
}

}  // namespace
