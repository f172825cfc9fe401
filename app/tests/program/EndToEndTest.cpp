// The real program on real parts, driven from outside the way a user and a
// card reader drive it: the sorvex binary, started with a home and settings
// of its own on an X server of the tests (Xvfb, no window manager), reads
// its port from a pty that plays the reader, and delivers each card's text
// into a window of ours or onto the clipboard, where an outside reader
// (xclip) takes it. The transfer log is read from the file, and the program
// is ended from its own context menu. Where a test needs them, the program
// gets the notification area of the tests (sorvex_trayhost) and USB readers
// that come and go (sorvex_usb_bed, a sysfs and device events of the
// tests' own).
//
// The expected texts below were worked out by hand from the definitions of
// the chosen standard formats (template and parameters, shown beside each
// choice), never taken from the program.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tools/ChildProcess.h"
#include "tools/ProgramHome.h"
#include "tools/TestTray.h"
#include "tools/UsbBed.h"
#include "tools/VirtualReader.h"
#include "x11/XProbe.h"
#include "x11/XRecorder.h"

namespace {

namespace fs = std::filesystem;
using testtools::ChildProcess;
using testtools::VirtualReader;
using x11test::XProbe;
using x11test::XRect;
using x11test::XWindow;

// The title of the window the keyboard run types into.
const char16_t* const kTargetTitle = u"Card entry — ввод";

// Generous: the sanitizer build starts slowly on a busy machine.
constexpr int kStartMs = 30000;
constexpr int kCardMs = 10000;

// The format classes, in the order of their class words.
enum Cls { MUL, M1K, HID, EMM, IC, EX, kClsCount };
const char* const kClassWords[kClsCount] = {"MUL", "M1K", "HID", "EMM", "IC", "EX"};

// The standard format chosen for each class (with -s), by name.
using FormatNames = const char* const[kClsCount];
// Keyboard run.
FormatNames kTypedFormats = {
    "16 hex digits b6..b0 + CRC-8",                   // %.2X x 8 | b6 b5 b4 b3 b2 b1 b0 bX
    "3 digits b1, Tab, Wiegand-32 word in decimal",   // %.3U\t%.5U | b1 W32
    "16 hex digits: 01, b5b4 b3b2 b1b0, CRC-8",       // 01%.4X%.4X%.4X%.2X | w45 w23 w01 bX
    "Hex bit-reversed b4 b3 b2 + 001A + line feed",   // %.2X%.2X%.2X001A\n | ~b4 ~b3 ~b2
    "3+5 digits b5, Tab, b6b7",                       // %.3U\t%.5U | b5 w76
    "basic",                                          // %.2X %.2X %.2X %.2X %.2X %.2X\r | b0 .. b5
};
// Clipboard run.
FormatNames kCopiedFormats = {
    "Decimal b6 (2 digits) b5b4 + line feed",         // %.2u%u\n | b6 w45
    "3+5 digits b2,b1b0",                             // %.3U\#44%.5U | b2 w01
    "Hex bit-reversed b4b5 + 6C001A",                 // %.4X6C001A | AD1
    "16 hex digits of inverted b2 b3 b4 + CRC-8",     // %.2X000000%.2X%.2X%.2X01 | bV ^b2 ^b3 ^b4
    "3+5 digits b5 b6b7",                             // %.3U%.5U | b5 w76
    "basic",
};

// One card of each kind the reader sends, and what the two runs make of
// it: the text delivered, and the text as the log shows it (control and
// punctuation characters marked). Card bytes (b0 first) are noted beside
// each line. wXY is bY * 256 + bX; W32 is b3 b2 b1 b0 shifted left by one,
// bit 0 set for an even count of ones in bits 1..15, bit 31 for an odd
// count in bits 16..30; X, Y and V are the CRC-8 (reflected
// 0x8C, start 0) of a seven-byte block fed from its last byte to its first;
// "~" reverses the bits of a byte, "^" inverts them.
struct Card {
  const char* line;  // as the reader sends it, line end included
  Cls cls;
  const char16_t* tag;  // the card type's word in the log
  const char* typed;
  const char16_t* typedShown;
  const char* copied;
  const char16_t* copiedShown;
};

const Card kCards[] = {
    // 04 A1 B2 C3 D4 E5 F6. X of F6 E5 D4 C3 B2 A1 04 = 40; w45 = E5D4 = 58836.
    {"Mifare[04A1B2C3D4E5F6] (UL)\r\n", MUL, u"MUL", "F6E5D4C3B2A10440", u"F6E5D4C3B2A10440", "24658836\n",
     u"24658836\\n"},
    // 1A 2B 3C 4D. W32 = 9A785634 (bit 0 clear, bit 31 set); w01 = 2B1A = 11034.
    {"Mifare[1A2B3C4D] (1K)\r", M1K, u"M1K", "043\t2591577652", u"043\\t2591577652", "060,11034", u"060#4411034"},
    // 04 11 22 33 44 55 66; X is 00 for a DESFire card. w45 = 5544 = 21828.
    {"Mifare[04112233445566] (DF)\r\n", MUL, u"MDF", "6655443322110400", u"6655443322110400", "10221828\n",
     u"10221828\\n"},
    // 0C 0D 0E 0F. W32 = 9E1C1A18 (bit 0 clear, bit 31 set); w01 = 0D0C = 3340.
    {"Mifare[0C0D0E0F] (4K)\r", M1K, u"M4K", "013\t2652641816", u"013\\t2652641816", "014,03340", u"014#4403340"},
    // The family byte 01 is skipped: D2 C3 B4 A5 96 87 78. X of 78 87 96 A5 B4 C3 D2 = 66; w45 = 8796 = 34710.
    {"Dallas[01D2C3B4A5968778]\r\n", MUL, u"DS", "788796A5B4C3D266", u"788796A5B4C3D266", "12034710\n",
     u"12034710\\n"},
    // 1A 2B 3C 4D, then 12345 = 30 39. X of 01 39 30 4D 3C 2B 1A = DB; AD1 = 3039 bit-reversed = 9C0C.
    {"HID[1A2B3C4D] 12345\r\n", HID, u"HID", "0139304D3C2B1ADB", u"0139304D3C2B1ADB", "9C0C6C001A",
     u"9C0C6C001A"},
    // 00 AB 12 CD EF, then 18 = 12 and 52719 = CD EF. ~EF ~CD ~12 = F7 B3 48;
    // ^b2..^b4 = ED 32 10, V of 01 10 32 ED 00 00 00 = B5.
    {"Em-Marine[00AB12CDEF] 18,52719\r\n", EMM, u"EMM", "F7B348001A\n", u"F7B348001A\\n", "B5000000ED321001",
     u"B5000000ED321001"},
    // 01 5A C8 12 34 (200 = C8, 4660 = 12 34). ~34 ~12 ~C8 = 2C 48 13;
    // ^b2..^b4 = 37 ED CB, V of 01 CB ED 37 00 00 00 = A2.
    {"COD433[5A] 200,4660\r\n", EMM, u"433", "2C4813001A\n", u"2C4813001A\\n", "A200000037EDCB01",
     u"A200000037EDCB01"},
    // E0 04 01 00 12 34 56 78. b5 = 52; w76 = 5678 = 22136.
    {"iCode[E004010012345678]\r\n", IC, u"iCode", "052\t22136", u"052\\t22136", "05222136", u"05222136"},
    // Read from the end: 08 07 06 05 04 03 02 01.
    {"[0102030405060708]\r\n", EX, u"Ex", "08 07 06 05 04 03\r", u"08 07 06 05 04 03\\r", "08 07 06 05 04 03\r",
     u"08 07 06 05 04 03\\r"},
};

// Lines that deliver nothing, each sent before the card of the same index.
std::vector<std::string> Rubbish() {
  std::string overlong;  // far beyond what the program keeps of a line
  while (overlong.size() < 100000) overlong += "Mifare 04A1B2C3D4E5F6 (UL) ";
  return {
      "No Card\r\n",
      "Qx7 garbage[zz] 12\r\n",
      overlong + "\r\n",
      "Mifare[0G1H2I3J4K5L6M] (UL)\r\n",  // not hexadecimal
      std::string("\x01\x02\xff\xfe[\x80\x81]\x7f", 9) + "\r",
      "Em-Marine[0102A1B2C3] 161\r\n",  // its number lacks the comma
      "NO CARD\r",
      "HID[1A2B3C4D]\r\n",  // its number is missing
      "\r\n\r\n",
      "Dallas[1]\r\n",  // too short
  };
}

std::string FormatSwitch(Cls AClass, FormatNames& ANames) {
  return std::string("-s") + kClassWords[AClass] + ANames[AClass];
}

// The log line of a card after its time stamp.
std::u16string LogEntry(const Card& ACard, const char16_t* AShown, const std::u16string& AWindow,
                        FormatNames& ANames) {
  std::u16string name;
  for (const char* c = ANames[ACard.cls]; *c; ++c) name += char16_t(*c);
  return u"  \"" + std::u16string(AShown) + u"\" -> \"" + AWindow + u"\" [" + ACard.tag + u": \"" + name +
         u"\" (std)]";
}

// The lines of a transfer log (UTF-16 little-endian, CR LF).
std::vector<std::u16string> ReadLog(const fs::path& APath) {
  const std::string bytes = testtools::ReadFileText(APath);
  std::u16string text;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2)
    text += char16_t(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8);
  std::vector<std::u16string> lines;
  for (size_t start = 0; start < text.size();) {
    const size_t end = text.find(u"\r\n", start);
    if (end == std::u16string::npos) {
      lines.push_back(text.substr(start));  // an unfinished line: the check below shows it
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

std::string Utf8(const std::u16string& AText) {
  std::string out;
  for (char16_t c : AText) {
    if (c < 0x80) {
      out += char(c);
    } else if (c < 0x800) {
      out += char(0xC0 | c >> 6);
      out += char(0x80 | (c & 0x3F));
    } else {  // no surrogates in our texts
      out += char(0xE0 | c >> 12);
      out += char(0x80 | (c >> 6 & 0x3F));
      out += char(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// The transfer log of a port: "_", the name with "_" for "/", ".log".
std::string LogFileName(std::string APort) {
  std::replace(APort.begin(), APort.end(), '/', '_');
  return "_" + APort + ".log";
}

// "dd/mm/yyyy hh:mm:ss", then the entry.
void ExpectLogLine(const std::u16string& ALine, const std::u16string& AEntry) {
  const std::u16string pattern = u"00/00/0000 00:00:00";
  bool stamp = ALine.size() >= pattern.size();
  for (size_t i = 0; stamp && i < pattern.size(); ++i)
    stamp = pattern[i] == u'0' ? (ALine[i] >= u'0' && ALine[i] <= u'9') : ALine[i] == pattern[i];
  EXPECT_TRUE(stamp) << Utf8(ALine);
  EXPECT_EQ(Utf8(ALine.substr(std::min(ALine.size(), pattern.size()))), Utf8(AEntry));
}

bool WaitUntil(const std::function<bool()>& ACond, int ATimeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ATimeoutMs);
  while (!ACond()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// The clipboard's text as another program reads it.
std::string ReadClipboard() {
  ChildProcess xclip({"xclip", "-selection", "clipboard", "-o", "-target", "UTF8_STRING"},
                     testtools::CurrentEnvironment(),
                     {.captureOut = true, .dropErr = true});  // quiet while the clipboard is empty
  std::string text = xclip.ReadOut(5000);
  return xclip.WaitExit(5000) == 0 ? text : std::string();
}

// Whether process APid has a descriptor open on the device APath.
bool HoldsDevice(pid_t APid, const std::string& APath) {
  std::error_code ec;
  for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(APid) + "/fd", ec)) {
    const std::string target = fs::read_symlink(fd.path(), ec).string();
    if (target == APath || target.starts_with(APath + " ")) return true;  // " (deleted)"
  }
  return false;
}

// The tray icon's colour at its centre: the port open and listed, or not.
constexpr unsigned kActiveColour = 0x2EA043;
constexpr unsigned kInactiveColour = 0x9A9A9A;

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(probe_.Ok());
    ASSERT_TRUE(home_.Ok());
    // A settings file beside the program would be taken instead of ours.
    ASSERT_FALSE(fs::exists(fs::path(SORVEX_PROGRAM).parent_path() / "Sorvex.ini"));
  }
  void TearDown() override {
    program_.reset();
    if (tray_) {
      EXPECT_EQ(tray_->End(), 0) << "the tray did not end cleanly";
    }
  }

  // Writes the settings, starts the program with AArgs and waits for its
  // window.
  void Start(const std::string& ASettings, const std::vector<std::string>& AArgs,
             const std::vector<std::string>& APrefix = {}) {
    home_.WriteSettings(ASettings);
    Launch(AArgs, APrefix);
  }
  // Starts the program on the settings its home holds; run by APrefix (a
  // program that sets up its surroundings and then becomes the program),
  // its standard error into AErrFile, when given.
  void Launch(const std::vector<std::string>& AArgs, const std::vector<std::string>& APrefix = {},
              const fs::path& AErrFile = {}) {
    std::vector<std::string> argv = APrefix;
    argv.push_back(SORVEX_PROGRAM);
    argv.insert(argv.end(), AArgs.begin(), AArgs.end());
    testtools::Environment env = home_.ProgramEnvironment();
    // No desktop bus: the notification area, when there is one, is ours.
    env = testtools::WithVariable(env, "DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (home_.Root() / "no-bus").string());
    if (bed_) env = bed_->ProgramEnvironment(env);
    program_ = std::make_unique<ChildProcess>(argv, env, testtools::ChildStreams{.errFile = AErrFile});
    ASSERT_TRUE(program_->Started());
    window_ = probe_.WaitWindow(program_->Pid(), XProbe::Kind::Main, "Sorvex", kStartMs);
    ASSERT_NE(window_, 0u) << "the program's window did not appear";
  }

  bool StartTray() {
    tray_ = std::make_unique<testtools::TestTray>(SORVEX_TRAYHOST);
    return tray_->Ready();
  }
  bool StartUsbBed() {
    bed_ = std::make_unique<testtools::UsbBed>(SORVEX_USB_BED, SORVEX_UMOCKDEV_PRELOAD);
    return bed_->Ready();
  }

  // A right click at a point, and the menu of ours it opens, once the menu
  // holds the keyboard (it takes it from the window that has it): keys
  // pressed from then on reach the menu. 0 when none opened, or when the
  // one that opened did not take the keyboard.
  XWindow OpenMenuAt(int AX, int AY) {
    const XWindow focus = probe_.Focus();
    const bool watched = focus > 1;  // not None, not PointerRoot
    if (watched) probe_.WatchKeyboardGrab(focus);
    probe_.Click(AX, AY, 3);
    XWindow menu = 0;
    const bool holds = probe_.WaitFor([&] {
      return (menu = probe_.MenuOf(program_->Pid())) != 0 && (!watched || probe_.KeyboardGrabbedFrom(focus));
    }, kCardMs);
    return holds ? menu : 0;
  }
  // The window's context menu, opened on an empty spot (the margin of its
  // left group) of the window, which gets the keyboard first: keys that
  // come before the menu holds it go to the window, and on to the menu.
  XWindow OpenContextMenu() {
    if (!probe_.GiveFocus(window_, kCardMs)) return 0;
    const XRect at = probe_.Geometry(window_);
    return OpenMenuAt(at.x + 3, at.y + at.height / 2);
  }
  // The icon's image at its centre.
  unsigned IconColour(const testtools::DockedIcon& AIcon) {
    return probe_.Pixel(AIcon.window, AIcon.rect.width / 2, AIcon.rect.height / 2);
  }
  // The reader AReader in socket 1-1, open as APort, is pulled out: the
  // program lets go of it, and the tray icon AIcon shows the name no longer
  // listed. A device of the same ids with the serial number AOtherSerial
  // takes the name in socket 1-2: listed again, but left alone. Then a new
  // reader (into AReader), the same device as far as can be told (ASerial,
  // "" for none), is plugged back into 1-1 and is opened again.
  void PullOutAndPlugBack(std::unique_ptr<VirtualReader>& AReader, const testtools::DockedIcon& AIcon,
                          const std::string& APort, const std::string& ASerial, const std::string& AOtherSerial,
                          const std::string& AIds = "0403:1234") {
    auto iconColour = [&] { return IconColour(AIcon); };
    const std::string gone = AReader->DevicePath();
    ASSERT_TRUE(bed_->Unplug("1-1", APort));
    AReader->Unplug();
    EXPECT_TRUE(WaitUntil([&] { return !HoldsDevice(program_->Pid(), gone); }, 5000))
        << "the program still holds " << gone;
    EXPECT_TRUE(probe_.WaitFor([&] { return iconColour() == kInactiveColour; })) << std::hex << iconColour();

    VirtualReader other;
    ASSERT_TRUE(other.Ok());
    ASSERT_TRUE(bed_->Plug("1-2", AOtherSerial, APort, other.DevicePath(), AIds));
    EXPECT_TRUE(probe_.WaitFor([&] { return iconColour() == kActiveColour; })) << std::hex << iconColour();
    EXPECT_FALSE(other.LineSetUp());
    EXPECT_FALSE(HoldsDevice(program_->Pid(), other.DevicePath()));
    ASSERT_TRUE(bed_->Unplug("1-2", APort));

    AReader = std::make_unique<VirtualReader>();
    ASSERT_TRUE(AReader->Ok());
    ASSERT_TRUE(bed_->Plug("1-1", ASerial, APort, AReader->DevicePath(), AIds));
    ASSERT_TRUE(AReader->WaitOpened(kCardMs)) << "the program did not open " << APort << " again";
    EXPECT_FALSE(other.LineSetUp()) << "the other device's line was set up";
  }
  // The tray icon's menu; the icon takes clicks once it shows its image.
  XWindow OpenTrayMenu(const testtools::DockedIcon& AIcon) {
    if (!probe_.WaitFor([&] { return IconColour(AIcon) == kActiveColour || IconColour(AIcon) == kInactiveColour; }))
      return 0;
    return OpenMenuAt(AIcon.CentreX(), AIcon.CentreY());
  }
  // Keys pressed in a menu; it closes once an item is chosen.
  void ChooseInMenu(XWindow AMenu, const std::vector<std::string>& AKeys) {
    for (const std::string& k : AKeys) probe_.Key(k);
    EXPECT_TRUE(probe_.WaitFor([&] { return !probe_.Viewable(AMenu); }, kCardMs)) << "the menu stayed open";
  }

  // Right click on an empty spot of the window, then "E&xit" by its key,
  // once: the menu holds the keyboard by then, so the key is the menu's,
  // and the program must end with code 0.
  void ExitThroughContextMenu() {
    const XWindow menu = OpenContextMenu();
    ASSERT_NE(menu, 0u) << "no context menu";
    ASSERT_TRUE(probe_.KeyboardGrabbedFrom(window_)) << "the context menu does not hold the keyboard";
    probe_.Key("x");
    const std::optional<int> code = program_->WaitExit(kStartMs);
    ASSERT_TRUE(code.has_value()) << "the program did not end; its menu is "
                                  << (probe_.Viewable(menu) ? "open" : "closed");
    EXPECT_EQ(*code, 0);
  }

  XProbe probe_;
  testtools::ProgramHome home_;
  std::unique_ptr<testtools::TestTray> tray_;
  std::unique_ptr<testtools::UsbBed> bed_;
  std::unique_ptr<ChildProcess> program_;
  XWindow window_ = 0;
};

TEST_F(EndToEnd, TypesEveryCardKindIntoTheFocusedWindowAndLogsIt) {
  x11test::XRecorder target(Utf8(kTargetTitle));
  ASSERT_TRUE(target.Ok());
  VirtualReader reader;
  ASSERT_TRUE(reader.Ok());

  std::vector<std::string> args{"-p" + reader.PortName()};
  for (int c = 0; c < kClsCount; ++c) args.push_back(FormatSwitch(Cls(c), kTypedFormats));
  const fs::path logs = home_.Root() / "logs";
  fs::create_directory(logs);
  Start("TransMethod=0\nTransLog=1\nLogDir=" + logs.string() + "\nPressKeyDelay=0\nReleaseKeyDelay=0\n",
        args);
  ASSERT_TRUE(reader.WaitOpened(kStartMs)) << "the program did not open " << reader.PortName();
  // Without a window manager the input focus decides where keys go.
  ASSERT_TRUE(probe_.GiveFocus(target.Window(), 5000));

  const std::vector<std::string> rubbish = Rubbish();
  std::string all, expected;
  for (size_t i = 0; i < std::size(kCards); ++i) {
    all += rubbish[i % rubbish.size()] + kCards[i].line;
    expected += kCards[i].typed;
  }
  ASSERT_TRUE(reader.Send(all));
  // Each card pays a pause of 300 ms after its last key.
  EXPECT_TRUE(target.WaitFor(expected, kCardMs + 1000 * int(std::size(kCards))))
      << "typed: \"" << target.Text() << "\"";

  const fs::path log = logs / LogFileName(reader.PortName());
  std::vector<std::u16string> lines;
  WaitUntil([&] { return (lines = ReadLog(log)).size() >= std::size(kCards); }, kCardMs);
  ASSERT_EQ(lines.size(), std::size(kCards)) << log;
  for (size_t i = 0; i < lines.size(); ++i)
    ExpectLogLine(lines[i], LogEntry(kCards[i], kCards[i].typedShown, kTargetTitle, kTypedFormats));

  ExitThroughContextMenu();
}

// The file size limit stops the transfer log part-way, as a full disk does:
// the cards are still delivered, every line the log holds is whole and in
// order, and the failure is told once.
TEST_F(EndToEnd, ALogThatCannotGrowHoldsOnlyWholeLinesAndIsToldOnce) {
  VirtualReader reader;
  ASSERT_TRUE(reader.Ok());
  std::vector<std::string> args{"-p" + reader.PortName()};
  for (int c = 0; c < kClsCount; ++c) args.push_back(FormatSwitch(Cls(c), kCopiedFormats));
  const fs::path logs = home_.Root() / "logs";
  fs::create_directory(logs);
  const fs::path errors = home_.Root() / "errors";
  home_.WriteSettings("TransMethod=1\nTransLog=1\nLogDir=" + logs.string() + "\n");
  // Room for a few lines; the one that does not fit ends in the middle of
  // a character.
  Launch(args, {"prlimit", "--fsize=1001"}, errors);
  ASSERT_TRUE(reader.WaitOpened(kStartMs)) << "the program did not open " << reader.PortName();
  std::string all;
  for (const Card& card : kCards) all += card.line;
  ASSERT_TRUE(reader.Send(all));
  // The cards are handled in order: the last one on the clipboard is the
  // end of them.
  const std::string last = std::end(kCards)[-1].copied;
  std::string got;
  EXPECT_TRUE(WaitUntil([&] { return (got = ReadClipboard()) == last; }, kCardMs))
      << "clipboard: \"" << got << "\", expected \"" << last << "\"";
  const fs::path log = logs / LogFileName(reader.PortName());
  EXPECT_EQ(fs::file_size(log) % 2, 0u);
  const std::vector<std::u16string> lines = ReadLog(log);
  ASSERT_GT(lines.size(), 1u);
  ASSERT_LT(lines.size(), std::size(kCards));
  for (size_t i = 0; i < lines.size(); ++i)
    ExpectLogLine(lines[i], LogEntry(kCards[i], kCards[i].copiedShown, u"<clipboard>", kCopiedFormats));
  ExitThroughContextMenu();
  const std::string said = testtools::ReadFileText(errors);
  const std::string told = "Sorvex: Could not write the transfer log: " + log.string() + ": File too large";
  size_t count = 0;
  for (size_t at = said.find(told); at != std::string::npos; at = said.find(told, at + 1)) ++count;
  EXPECT_EQ(count, 1u) << said;
}

// The reader is a USB device of the tests' own (its port a pty behind the
// device node): it is pulled out, another device gets its port's name, and
// it is plugged back in.
TEST_F(EndToEnd, CopiesEveryCardKindToTheClipboardAcrossAReaderPulledOutAndPluggedBack) {
  ASSERT_TRUE(StartUsbBed());
  ASSERT_TRUE(StartTray());
  const std::string port = "ttyUSB0";
  auto expectCopied = [&](const std::string& AText) {
    std::string got;
    EXPECT_TRUE(WaitUntil([&] { return (got = ReadClipboard()) == AText; }, kCardMs))
        << "clipboard: \"" << got << "\", expected \"" << AText << "\"";
  };

  auto reader = std::make_unique<VirtualReader>();
  ASSERT_TRUE(reader->Ok());
  ASSERT_TRUE(bed_->Plug("1-1", "R1", port, reader->DevicePath()));
  std::vector<std::string> args{"-p" + port};
  for (int c = 0; c < kClsCount; ++c) args.push_back(FormatSwitch(Cls(c), kCopiedFormats));
  // No log folder set: the log goes to the per-user folder.
  Start("TransMethod=1\nTransLog=1\n", args);
  ASSERT_TRUE(reader->WaitOpened(kStartMs)) << "the program did not open " << port;
  EXPECT_TRUE(HoldsDevice(program_->Pid(), reader->DevicePath()));
  const auto icon = tray_->OnlyIcon();
  ASSERT_TRUE(icon);
  auto iconColour = [&] { return IconColour(*icon); };
  EXPECT_TRUE(probe_.WaitFor([&] { return iconColour() == kActiveColour; })) << std::hex << iconColour();

  const std::vector<std::string> rubbish = Rubbish();
  std::vector<std::u16string> entries;
  auto copyCard = [&](const Card& ACard) {
    std::string line = ACard.line;
    // The port wakes the program at a line feed: a line ended by a lone CR
    // is read with the next line feed.
    if (!line.ends_with('\n')) line += "No Card\r\n";
    ASSERT_TRUE(reader->Send(line));
    expectCopied(ACard.copied);
    entries.push_back(LogEntry(ACard, ACard.copiedShown, u"<clipboard>", kCopiedFormats));
  };
  // A line that arrives in two pieces is handled once, when complete (the
  // line feed before it wakes the program for the first piece).
  const std::string split = kCards[0].line;
  ASSERT_TRUE(reader->Send("\n" + split.substr(0, 11)));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_TRUE(reader->Send(split.substr(11)));
  expectCopied(kCards[0].copied);
  entries.push_back(LogEntry(kCards[0], kCards[0].copiedShown, u"<clipboard>", kCopiedFormats));
  for (size_t i = 1; i < std::size(kCards); ++i) {
    ASSERT_TRUE(reader->Send(rubbish[i % rubbish.size()]));
    copyCard(kCards[i]);
  }

  // Pulled out, another reader gets the name, and it is plugged back in.
  ASSERT_NO_FATAL_FAILURE(PullOutAndPlugBack(reader, *icon, port, "R1", "OTHER9"));
  copyCard(kCards[1]);
  copyCard(kCards[9]);

  // One log for the name, before and after.
  const fs::path log = home_.ConfigDir() / LogFileName(port);
  std::vector<std::u16string> lines;
  WaitUntil([&] { return (lines = ReadLog(log)).size() >= entries.size(); }, kCardMs);
  ASSERT_EQ(lines.size(), entries.size()) << log;
  for (size_t i = 0; i < lines.size(); ++i) ExpectLogLine(lines[i], entries[i]);

  ExitThroughContextMenu();
}

// A reader without a serial number, or another maker's USB serial adapter
// that a reader hangs on, is listed as a plain port, by its tty's name.
// Pulled out and plugged back into the same socket, it is opened again; a
// device of its kind that gets the name in another socket is left alone.
struct PlainDevice {
  const char* name;
  const char* ids;
  const char* serial;       // of the device pulled out and plugged back ("": none)
  const char* otherSerial;  // of the device in the other socket
};

void PrintTo(const PlainDevice& ADevice, std::ostream* AOut) { *AOut << ADevice.name; }

class PlainPortPluggedBack : public EndToEnd, public ::testing::WithParamInterface<PlainDevice> {};

TEST_P(PlainPortPluggedBack, IntoItsSocketIsOpenedAgainAndAnotherDeviceIsLeftAlone) {
  const PlainDevice& device = GetParam();
  ASSERT_TRUE(StartUsbBed());
  ASSERT_TRUE(StartTray());
  const std::string port = "ttyUSB0";
  auto reader = std::make_unique<VirtualReader>();
  ASSERT_TRUE(reader->Ok());
  ASSERT_TRUE(bed_->Plug("1-1", device.serial, port, reader->DevicePath(), device.ids));
  Start("TransMethod=1\n", {"-p" + port, FormatSwitch(EX, kCopiedFormats)});
  ASSERT_TRUE(reader->WaitOpened(kStartMs)) << "the program did not open " << port;
  const auto icon = tray_->OnlyIcon();
  ASSERT_TRUE(icon);
  EXPECT_TRUE(probe_.WaitFor([&] { return IconColour(*icon) == kActiveColour; })) << std::hex << IconColour(*icon);

  ASSERT_NO_FATAL_FAILURE(PullOutAndPlugBack(reader, *icon, port, device.serial, device.otherSerial, device.ids));
  ASSERT_TRUE(reader->Send(kCards[9].line));
  std::string got;
  EXPECT_TRUE(WaitUntil([&] { return (got = ReadClipboard()) == kCards[9].copied; }, kCardMs)) << got;
  ExitThroughContextMenu();
}

INSTANTIATE_TEST_SUITE_P(Devices, PlainPortPluggedBack,
                         ::testing::Values(PlainDevice{"ReaderWithoutSerialNumber", "0403:1234", "", ""},
                                           PlainDevice{"OtherMakersAdapter", "067b:2303", "", ""},
                                           PlainDevice{"OtherMakersAdapterWithSerialNumber", "10c4:ea60",
                                                       "0001", "0002"}),
                         [](const ::testing::TestParamInfo<PlainDevice>& AInfo) { return std::string(AInfo.param.name); });

// A reader plugged back in is announced by the kernel the moment its tty
// exists, when its node still belongs to root alone; udev gives it the
// group, mode and access list that let the user in a moment later. The
// program runs here as root without the power to override file permissions,
// so that a node it does not own, mode 0600, refuses it as it refuses a
// normal user; the test then grants the node late, or never. A reader
// without a serial number and another maker's adapter, plain ports, are
// announced with their tty as well.
struct NodeCase {
  const char* name;
  bool granted;
  const char* serial;  // "": none
  const char* ids;
};

void PrintTo(const NodeCase& ACase, std::ostream* AOut) { *AOut << ACase.name; }

class ReaderNodeSetUpLate : public EndToEnd, public ::testing::WithParamInterface<NodeCase> {};

TEST_P(ReaderNodeSetUpLate, TheReaderIsOpenedOnceItsNodeLetsTheUserInOrTheUserIsTold) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to hand the reader's node to another owner";
  ASSERT_TRUE(StartUsbBed());
  ASSERT_TRUE(StartTray());
  const std::string port = "ttyUSB0";
  auto reader = std::make_unique<VirtualReader>();
  ASSERT_TRUE(reader->Ok());
  const NodeCase& device = GetParam();
  ASSERT_TRUE(bed_->Plug("1-1", device.serial, port, reader->DevicePath(), device.ids));
  Start("TransMethod=1\n", {"-p" + port, FormatSwitch(EX, kCopiedFormats)},
        {"setpriv", "--bounding-set=-dac_override,-dac_read_search"});
  ASSERT_TRUE(reader->WaitOpened(kStartMs)) << "the program did not open " << port;
  const auto icon = tray_->OnlyIcon();
  ASSERT_TRUE(icon);
  auto iconColour = [&] { return IconColour(*icon); };

  const std::string gone = reader->DevicePath();
  ASSERT_TRUE(bed_->Unplug("1-1", port));
  reader->Unplug();
  ASSERT_TRUE(WaitUntil([&] { return !HoldsDevice(program_->Pid(), gone); }, 5000));
  ASSERT_TRUE(probe_.WaitFor([&] { return iconColour() == kInactiveColour; }));

  // Plugged back in with its node not yet set up.
  reader = std::make_unique<VirtualReader>();
  ASSERT_TRUE(reader->Ok());
  const std::string node = reader->DevicePath();
  ASSERT_EQ(chown(node.c_str(), 54321, 54321), 0);
  ASSERT_EQ(chmod(node.c_str(), 0600), 0);
  ASSERT_TRUE(bed_->Plug("1-1", device.serial, port, node, device.ids));
  // The icon shows the name listed once the program has taken the arrival
  // in, and with it its first try.
  ASSERT_TRUE(probe_.WaitFor([&] { return iconColour() == kActiveColour; })) << std::hex << iconColour();
  EXPECT_FALSE(HoldsDevice(program_->Pid(), node)) << "a node the program may not use was opened";

  if (device.granted) {
    ASSERT_EQ(chown(node.c_str(), 0, 0), 0);
    ASSERT_TRUE(reader->WaitOpened(kCardMs)) << "the program did not open " << port << " once it could";
    ASSERT_TRUE(reader->Send(kCards[9].line));
    std::string got;
    EXPECT_TRUE(WaitUntil([&] { return (got = ReadClipboard()) == kCards[9].copied; }, kCardMs)) << got;
    ExitThroughContextMenu();
    return;
  }
  // Never: after a while the user is told, in a message box (its words, the
  // port and why, are the port switch's, tested with the window).
  XWindow box = 0;
  ASSERT_TRUE(probe_.WaitFor([&] { return (box = probe_.ViewableWindowOf(program_->Pid(), "DIALOG")) != 0; },
                             kCardMs))
      << "no message";
  EXPECT_EQ(probe_.Title(box), "Sorvex");
  EXPECT_FALSE(HoldsDevice(program_->Pid(), node));
  ASSERT_TRUE(probe_.GiveFocus(box, 5000));
  probe_.Key("Return");
  EXPECT_TRUE(probe_.WaitFor([&] { return !probe_.Viewable(box); })) << "the message stayed";
  ExitThroughContextMenu();
}

INSTANTIATE_TEST_SUITE_P(Node, ReaderNodeSetUpLate,
                         ::testing::Values(NodeCase{"GrantedAfterTheArrival", true, "R1", "0403:1234"},
                                           NodeCase{"NeverGranted", false, "R1", "0403:1234"},
                                           NodeCase{"WithoutSerialNumberGrantedAfterTheArrival", true, "", "0403:1234"},
                                           NodeCase{"OtherMakersAdapterNeverGranted", false, "", "067b:2303"}),
                         [](const ::testing::TestParamInfo<NodeCase>& AInfo) { return std::string(AInfo.param.name); });

// A reader pulled out while the program opens it (its devices go in the
// middle of the open, before the program could look at them afterwards) is
// still known as the device it opened, and comes back when plugged in again.
TEST_F(EndToEnd, AReaderPulledOutAsItIsOpenedComesBackWhenPluggedIn) {
  ASSERT_TRUE(StartUsbBed());
  const std::string port = "ttyUSB0";
  auto reader = std::make_unique<VirtualReader>();
  ASSERT_TRUE(reader->Ok());
  ASSERT_TRUE(bed_->Plug("1-1", "R1", port, reader->DevicePath()));
  ASSERT_TRUE(bed_->PullOutAtOpen("1-1", port));
  Start("TransMethod=1\n", {"-p" + port, FormatSwitch(EX, kCopiedFormats)});
  ASSERT_TRUE(reader->WaitOpened(kStartMs)) << "the program did not open " << port;
  const std::string gone = reader->DevicePath();
  ASSERT_TRUE(bed_->Unplug("1-1", port));
  reader->Unplug();
  ASSERT_TRUE(WaitUntil([&] { return !HoldsDevice(program_->Pid(), gone); }, 5000));

  reader = std::make_unique<VirtualReader>();
  ASSERT_TRUE(reader->Ok());
  ASSERT_TRUE(bed_->Plug("1-1", "R1", port, reader->DevicePath()));
  ASSERT_TRUE(reader->WaitOpened(kCardMs)) << "the program did not open " << port << " again";
  ASSERT_TRUE(reader->Send(kCards[9].line));
  std::string got;
  EXPECT_TRUE(WaitUntil([&] { return (got = ReadClipboard()) == kCards[9].copied; }, kCardMs)) << got;
  ExitThroughContextMenu();
}

// A pty has no device identity: once the program has let go of a pulled-out
// pty, the terminal that next gets its name is no reader of ours.
TEST_F(EndToEnd, APtyNameTakenByANewTerminalIsLeftAlone) {
  auto reader = std::make_unique<VirtualReader>();
  ASSERT_TRUE(reader->Ok());
  Start("TransMethod=1\n", {"-p" + reader->PortName(), FormatSwitch(EX, kCopiedFormats)});
  ASSERT_TRUE(reader->WaitOpened(kStartMs));
  ASSERT_TRUE(reader->Send(kCards[9].line));
  EXPECT_TRUE(WaitUntil([&] { return ReadClipboard() == kCards[9].copied; }, kCardMs));

  const std::string name = reader->DevicePath();
  reader->Unplug();
  ASSERT_TRUE(WaitUntil([&] { return !HoldsDevice(program_->Pid(), name); }, 5000));
  reader.reset();
  // The kernel gives the lowest free pty number to the next terminal; other
  // programs may take it meanwhile, so terminals are opened (and kept)
  // until one has the name.
  std::vector<std::unique_ptr<VirtualReader>> terminals;
  VirtualReader* terminal = nullptr;
  WaitUntil([&] {
    if (terminals.size() >= 64) terminals.clear();
    terminals.push_back(std::make_unique<VirtualReader>());
    if (terminals.back()->DevicePath() == name) terminal = terminals.back().get();
    return terminal != nullptr;
  }, 5000);
  if (!terminal) GTEST_SKIP() << "no new terminal got " << name;
  // Nothing tells the program of a new terminal; a program that tried the
  // name again would have done so several times over within this time.
  EXPECT_FALSE(WaitUntil([&] { return terminal->LineSetUp() || HoldsDevice(program_->Pid(), name); }, 2000))
      << "the program took the new terminal " << name;
  ExitThroughContextMenu();
}

// The transfer log's lines once there are at least ACount of them.
std::vector<std::u16string> WaitLog(const fs::path& APath, size_t ACount) {
  std::vector<std::u16string> lines;
  WaitUntil([&] { return (lines = ReadLog(APath)).size() >= ACount; }, kCardMs);
  return lines;
}

// Without a window manager a window takes the keyboard where it stands. An
// editor that keeps the keyboard on an inner window of its own, as toolkits
// do, comes in front of the program's window and takes the keyboard; then
// the program's window gets the keyboard without coming to the front. The
// card is for the editor, which had the keyboard before the program's
// window.
TEST_F(EndToEnd, ACardGoesToTheWindowThatHadTheKeyboardBeforeTheProgramsWindow) {
  x11test::XRecorder editor(Utf8(kTargetTitle), true, x11test::XRecorder::Keys::Inner);
  ASSERT_TRUE(editor.Ok());
  VirtualReader reader;
  ASSERT_TRUE(reader.Ok());
  const fs::path logs = home_.Root() / "logs";
  fs::create_directory(logs);
  Start("TransMethod=0\nTransLog=1\nLogDir=" + logs.string() + "\n",
        {"-p" + reader.PortName(), FormatSwitch(EX, kTypedFormats)});
  ASSERT_TRUE(reader.WaitOpened(kStartMs));
  ASSERT_TRUE(probe_.GiveFocus(editor.Window(), kCardMs));
  ASSERT_TRUE(probe_.WaitFor([&] { return probe_.Focus() == editor.KeyWindow(); }));
  x11test::FocusInPlace(window_);
  ASSERT_TRUE(probe_.WaitFor([&] { return probe_.Focus() == window_; }));
  ASSERT_GT(probe_.StackPos(editor.Window()), probe_.StackPos(window_));

  const Card& card = kCards[9];
  ASSERT_TRUE(reader.Send(card.line));
  EXPECT_TRUE(editor.WaitFor(card.typed, kCardMs)) << "typed: \"" << editor.Text() << "\"";
  const std::vector<std::u16string> lines = WaitLog(logs / LogFileName(reader.PortName()), 1);
  ASSERT_EQ(lines.size(), 1u);
  ExpectLogLine(lines[0], LogEntry(card, card.typedShown, kTargetTitle, kTypedFormats));
  ExitThroughContextMenu();
}

// The program types the Exclusive card (by "basic") into a window of the
// test's own, made before the program and so right below its window, and
// logs it; the tests' notification area holds its icon.
class TypedCard : public EndToEnd {
 protected:
  void StartTyping(const std::string& ASettings) {
    // The tray's own window first: the target must be the one right below.
    ASSERT_TRUE(StartTray());
    target_ = std::make_unique<x11test::XRecorder>(Utf8(kTargetTitle));
    ASSERT_TRUE(target_->Ok());
    ASSERT_TRUE(reader_.Ok());
    fs::create_directory(logs_);
    Start(ASettings + "TransMethod=0\nTransLog=1\nLogDir=" + logs_.string() + "\n",
          {"-p" + reader_.PortName(), FormatSwitch(EX, kTypedFormats)});
    ASSERT_TRUE(reader_.WaitOpened(kStartMs));
    icon_ = tray_->OnlyIcon();
    ASSERT_TRUE(icon_);
  }
  // The card arrives: its text must reach the test's window, and the log
  // must name that window.
  void ExpectCardTypedIntoTarget() {
    const Card& card = kCards[9];  // its text ends in a Return
    ASSERT_TRUE(reader_.Send(card.line));
    EXPECT_TRUE(target_->WaitFor(card.typed, kCardMs)) << "typed: \"" << target_->Text() << "\"";
    const std::vector<std::u16string> lines = WaitLog(logs_ / LogFileName(reader_.PortName()), 1);
    ASSERT_EQ(lines.size(), 1u);
    ExpectLogLine(lines[0], LogEntry(card, card.typedShown, kTargetTitle, kTypedFormats));
  }

  std::unique_ptr<x11test::XRecorder> target_;
  VirtualReader reader_;
  fs::path logs_ = home_.Root() / "logs";
  std::optional<testtools::DockedIcon> icon_;
};

// Which of the program's menus is open when a card arrives.
struct MenuCase {
  const char* name;
  bool tray;  // the tray icon's menu, else the window's context menu
};

void PrintTo(const MenuCase& ACase, std::ostream* AOut) { *AOut << ACase.name; }

class CardWhileOurMenuIsOpen : public TypedCard, public ::testing::WithParamInterface<MenuCase> {};

TEST_P(CardWhileOurMenuIsOpen, TheMenuClosesAndTheTextGoesToTheWindowWithTheKeyboard) {
  ASSERT_NO_FATAL_FAILURE(StartTyping(""));
  XWindow menu = 0;
  if (GetParam().tray) {
    // The user types in the test's window and opens the tray's menu, which
    // takes the keyboard from that window.
    ASSERT_TRUE(probe_.GiveFocus(target_->Window(), 5000));
    menu = OpenTrayMenu(*icon_);
  } else {
    // A right click on the program's window gives it the keyboard: the
    // text is for the window below it. The menu takes the keyboard from
    // the program's window.
    menu = OpenContextMenu();
  }
  ASSERT_NE(menu, 0u) << "no menu holding the keyboard";
  // The pointer rests on the menu's last item, "Exit", in both menus.
  const XRect at = probe_.Geometry(menu);
  probe_.MovePointer(at.x + at.width / 2, at.y + at.height - 8);

  ExpectCardTypedIntoTarget();
  EXPECT_TRUE(program_->Running()) << "the program ended";
  EXPECT_FALSE(probe_.Viewable(menu)) << "the menu is still open";
  ExitThroughContextMenu();
}

INSTANTIATE_TEST_SUITE_P(Menus, CardWhileOurMenuIsOpen,
                         ::testing::Values(MenuCase{"Tray", true}, MenuCase{"Window", false}),
                         [](const ::testing::TestParamInfo<MenuCase>& AInfo) { return std::string(AInfo.param.name); });

TEST_F(TypedCard, AfterAlwaysOnTopIsSwitchedTheProgramStillKnowsItsWindow) {
  ASSERT_NO_FATAL_FAILURE(StartTyping("TopMost=1\n"));

  // "Always on top" (on from the settings) switched off from the window's
  // menu, its fourth item after "Enable", "Settings..." and "Autorun".
  // The program stores the switch, and shows its window anew, as another
  // X window (as Qt does for a change of that flag) in the same place.
  const XWindow menu = OpenContextMenu();
  ASSERT_NE(menu, 0u) << "no context menu";
  ChooseInMenu(menu, {"Down", "Down", "Down", "Down", "Return"});
  std::string stored;
  EXPECT_TRUE(WaitUntil([&] {
    stored = home_.ReadSettings();
    return stored.find("TopMost=0") != std::string::npos;
  }, kCardMs)) << stored;
  const XWindow before = window_;
  EXPECT_TRUE(probe_.WaitFor([&] {
    window_ = probe_.ViewableWindowOf(program_->Pid(), "UTILITY");
    return window_ != 0 && window_ != before;
  }, kCardMs)) << "the window was not made anew";
  ASSERT_NE(window_, 0u);

  // The program's window in front: the card goes to the window below.
  ASSERT_TRUE(probe_.GiveFocus(window_, 5000));
  ExpectCardTypedIntoTarget();

  // Covered at its top-left corner, the window comes to the front at a
  // click on the tray icon.
  EXPECT_TRUE(probe_.WaitFor([&] { return probe_.Focus() == window_; })) << "the window did not come back";
  const XRect r = probe_.Geometry(window_);
  const XWindow corner = probe_.Cover({r.x - 10, r.y - 10, 40, 40});
  ASSERT_GT(probe_.StackPos(corner), probe_.StackPos(window_));
  probe_.Click(icon_->CentreX(), icon_->CentreY(), 1);
  EXPECT_TRUE(probe_.WaitFor([&] { return probe_.StackPos(window_) > probe_.StackPos(corner); }));
  EXPECT_TRUE(probe_.Viewable(window_));
  ExitThroughContextMenu();
}

// The settings keys of the classes' current formats, in class order (each
// with "Std" before it for its kind).
const char* const kFormatKeys[kClsCount] = {"MULFormat", "M1KFormat", "HidFormat",
                                            "EmFormat",  "IcFormat",  "ExFormat"};

// A card of each class and its text by the class's last standard format
// (by hand: MUL's as typed above, EMM's "3+5 digits b2,b3b4" %.3U,%.5U |
// b2 w43 = 12 CDEF, the others as copied above).
struct LastStdFormat {
  const Card& card;
  const char* text;
};
const LastStdFormat kLastStdFormats[kClsCount] = {
    {kCards[0], kCards[0].typed},  {kCards[1], kCards[1].copied}, {kCards[5], kCards[5].copied},
    {kCards[6], "018,52719"},      {kCards[8], kCards[8].copied}, {kCards[9], kCards[9].copied},
};

// The value of a key in the settings file's text; empty when it is missing.
std::string SettingValue(const std::string& ASettings, const std::string& AKey) {
  size_t at = 0;
  while (at < ASettings.size()) {
    size_t end = ASettings.find('\n', at);
    if (end == std::string::npos) end = ASettings.size();
    std::string line = ASettings.substr(at, end - at);
    if (line.ends_with('\r')) line.pop_back();
    if (line.starts_with(AKey + "=")) return line.substr(AKey.size() + 1);
    at = end + 1;
  }
  return {};
}

// The class picked in, and where it stands before: on formats of the user's
// own that no profile holds (the pick switches it to standard ones), or in
// a fresh home, already on the standard formats (the pick changes only the
// format).
struct TrayPickCase {
  Cls cls;
  bool fromOwnFormats;
};

void PrintTo(const TrayPickCase& ACase, std::ostream* AOut) {
  *AOut << kClassWords[ACase.cls] << (ACase.fromOwnFormats ? " from own formats" : " in a fresh home");
}

class TrayPick : public EndToEnd, public ::testing::WithParamInterface<TrayPickCase> {};

TEST_P(TrayPick, AStandardFormatPickedFromTheTrayIsTheOneAfterARestart) {
  const Cls cls = GetParam().cls;
  const std::string key = kFormatKeys[cls];
  ASSERT_TRUE(StartTray());
  std::string settings = "TransMethod=1\n";
  if (GetParam().fromOwnFormats)
    for (const char* k : kFormatKeys) settings += std::string(k) + "=gone\nStd" + k + "=0\n";
  Start(settings, {});
  const auto icon = tray_->OnlyIcon();
  ASSERT_TRUE(icon);
  // The keys reach the tray's menu through the program's own window.
  ASSERT_TRUE(probe_.GiveFocus(window_, 5000));
  const XWindow menu = OpenTrayMenu(*icon);
  ASSERT_NE(menu, 0u) << "no tray menu";
  // "Standard formats" after "Enable", the class, and in the class's
  // submenu (it opens on its first format) Up to its last format.
  std::vector<std::string> keys{"Down", "Down", "Right"};
  keys.insert(keys.end(), size_t(cls), "Down");
  keys.insert(keys.end(), {"Right", "Up", "Return"});
  ChooseInMenu(menu, keys);
  // Stored at once: the standard flag, and with it the format's name.
  std::string stored;
  EXPECT_TRUE(WaitUntil([&] {
    stored = home_.ReadSettings();
    const std::string name = SettingValue(stored, key);
    return SettingValue(stored, "Std" + key) == "1" && !name.empty() && name != "gone";
  }, kCardMs)) << stored;
  ASSERT_NO_FATAL_FAILURE(ExitThroughContextMenu());

  // Started again on what it stored: the class's card is converted by the
  // format picked.
  VirtualReader reader;
  ASSERT_TRUE(reader.Ok());
  Launch({"-p" + reader.PortName()});
  ASSERT_TRUE(reader.WaitOpened(kStartMs));
  const LastStdFormat& picked = kLastStdFormats[cls];
  std::string line = picked.card.line;
  if (!line.ends_with('\n')) line += "\n";
  ASSERT_TRUE(reader.Send(line));
  std::string got;
  EXPECT_TRUE(WaitUntil([&] { return (got = ReadClipboard()) == picked.text; }, kCardMs))
      << "clipboard: \"" << got << "\", expected \"" << picked.text << "\"";
  ExitThroughContextMenu();
}

std::vector<TrayPickCase> TrayPickCases() {
  std::vector<TrayPickCase> cases;
  for (const bool own : {true, false})
    for (int c = 0; c < kClsCount; ++c) cases.push_back({Cls(c), own});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Classes, TrayPick, ::testing::ValuesIn(TrayPickCases()),
                         [](const ::testing::TestParamInfo<TrayPickCase>& AInfo) {
                           return std::string(kClassWords[AInfo.param.cls]) +
                                  (AInfo.param.fromOwnFormats ? "_FromOwnFormats" : "_InAFreshHome");
                         });

// scripts/demo: its virtual reader, once the program has opened the port,
// writes a sample card line every few seconds (here every second).
TEST_F(EndToEnd, TheDemoReaderFeedsTheProgram) {
  ChildProcess demoReader({SORVEX_VIRTUAL_READER, "-i", "1"}, testtools::CurrentEnvironment(),
                          {.captureOut = true});
  ASSERT_TRUE(demoReader.Started());
  const std::string port = demoReader.ReadLine(kStartMs).value_or("");
  ASSERT_TRUE(port.starts_with("pts/")) << port;
  // Its first line, Mifare[04A1B2C3D4E5F6] (UL), by b0 b6 b5 b4 in hexadecimal.
  Start("TransMethod=1\n", {"-p" + port, "-sMUL8 hex digits b0 b6 b5 b4 (1)"});
  std::string got;
  EXPECT_TRUE(WaitUntil([&] { return (got = ReadClipboard()) == "04F6E5D4"; }, kCardMs)) << got;
  ExitThroughContextMenu();
}

}  // namespace
