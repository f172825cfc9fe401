// The reader's udev rule file, read the way udev reads rules: every line
// must parse into keys udev knows, each with an operator that key takes and
// a quoted value; then device events are run through the rules as udev
// would match and apply them. A USB reader of each product id the program
// registers (taken from the program's source, so the two cannot drift
// apart) must get the serial driver told its id, and its tty the group,
// mode and seat tag; other devices must be left alone. The metainfo offers
// the package for the same ids.
#include <fnmatch.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::string ReadText(const char* APath) {
  std::ifstream in(APath);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// ---- Parsing ---------------------------------------------------------------

struct Token {
  std::string key, attr, op, value;
};
using Rule = std::vector<Token>;

enum class Attr { None, Required, Optional };
struct KeyInfo {
  Attr attr;
  bool match, assign;
};
// The keys of udev's rules, whether they take "{...}", and whether they
// match (==, !=), assign (=, +=, -=, :=) or both.
const std::map<std::string, KeyInfo> kKeys = {
    {"ACTION", {Attr::None, true, false}},      {"DEVPATH", {Attr::None, true, false}},
    {"KERNEL", {Attr::None, true, false}},      {"KERNELS", {Attr::None, true, false}},
    {"SUBSYSTEM", {Attr::None, true, false}},   {"SUBSYSTEMS", {Attr::None, true, false}},
    {"DRIVER", {Attr::None, true, false}},      {"DRIVERS", {Attr::None, true, false}},
    {"ATTRS", {Attr::Required, true, false}},   {"TAGS", {Attr::None, true, false}},
    {"TEST", {Attr::Optional, true, false}},    {"PROGRAM", {Attr::None, true, false}},
    {"RESULT", {Attr::None, true, false}},      {"CONST", {Attr::Required, true, false}},
    {"NAME", {Attr::None, true, true}},         {"SYMLINK", {Attr::None, true, true}},
    {"ATTR", {Attr::Required, true, true}},     {"SYSCTL", {Attr::Required, true, true}},
    {"ENV", {Attr::Required, true, true}},      {"TAG", {Attr::None, true, true}},
    {"OWNER", {Attr::None, false, true}},       {"GROUP", {Attr::None, false, true}},
    {"MODE", {Attr::None, false, true}},        {"SECLABEL", {Attr::Required, false, true}},
    {"RUN", {Attr::Optional, false, true}},     {"LABEL", {Attr::None, false, true}},
    {"GOTO", {Attr::None, false, true}},        {"IMPORT", {Attr::Required, false, true}},
    {"OPTIONS", {Attr::None, false, true}},
};

bool IsMatchOp(const std::string& AOp) { return AOp == "==" || AOp == "!="; }

// The rules of a file; nothing, with the line and the reason in *AError,
// when a line does not parse.
std::optional<std::vector<Rule>> ParseRules(const std::string& AText, std::string* AError) {
  std::vector<Rule> rules;
  std::istringstream in(AText);
  std::string physical, line;
  int number = 0, start = 0;
  auto fail = [&](const std::string& AWhy) {
    *AError = "line " + std::to_string(start) + ": " + AWhy;
    return std::nullopt;
  };
  while (std::getline(in, physical)) {
    ++number;
    if (line.empty()) start = number;
    // A backslash at the end joins the next line.
    if (!physical.empty() && physical.back() == '\\') {
      physical.pop_back();
      line += physical;
      continue;
    }
    line += physical;
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') {
      line.clear();
      continue;
    }
    Rule rule;
    size_t i = first;
    while (true) {
      Token t;
      while (i < line.size() && (std::isupper(static_cast<unsigned char>(line[i])) || line[i] == '_'))
        t.key += line[i++];
      if (t.key.empty()) return fail("a key is missing");
      const auto info = kKeys.find(t.key);
      if (info == kKeys.end()) return fail("unknown key " + t.key);
      if (i < line.size() && line[i] == '{') {
        const size_t close = line.find('}', i);
        if (close == std::string::npos) return fail(t.key + ": no closing brace");
        t.attr = line.substr(i + 1, close - i - 1);
        i = close + 1;
        if (info->second.attr == Attr::None) return fail(t.key + " takes no {...}");
        if (t.attr.empty()) return fail(t.key + ": empty {}");
      } else if (info->second.attr == Attr::Required) {
        return fail(t.key + " needs {...}");
      }
      while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
      for (const char* op : {"==", "!=", "+=", "-=", ":=", "="}) {
        if (line.compare(i, std::char_traits<char>::length(op), op) == 0) {
          t.op = op;
          break;
        }
      }
      if (t.op.empty()) return fail(t.key + ": no operator");
      i += t.op.size();
      if (IsMatchOp(t.op) ? !info->second.match : !info->second.assign)
        return fail(t.key + " does not take " + t.op);
      if (t.key == "RUN" && !t.attr.empty() && t.attr != "builtin" && t.attr != "program")
        return fail("RUN{" + t.attr + "}");
      while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
      if (i >= line.size() || line[i] != '"') return fail(t.key + ": the value is not quoted");
      const size_t close = line.find('"', i + 1);
      if (close == std::string::npos) return fail(t.key + ": the value's quote is not closed");
      t.value = line.substr(i + 1, close - i - 1);
      i = close + 1;
      rule.push_back(t);
      while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
      if (i >= line.size()) break;
      if (line[i] != ',') return fail("a comma is missing after " + t.key);
      ++i;
      while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
      if (i >= line.size()) return fail("a comma ends the rule");
    }
    rules.push_back(rule);
    line.clear();
  }
  if (!line.empty()) return fail("the last line ends in a backslash");
  return rules;
}

// ---- Matching and applying -------------------------------------------------

struct Device {
  std::string subsystem, kernel;
  std::map<std::string, std::string> env, attrs;
};
// An event: the device, then its parents up to the USB device.
struct Event {
  std::string action;
  std::vector<Device> chain;
};
// What the rules leave on the event.
struct Outcome {
  std::string group, mode;
  std::set<std::string> tags;
  std::vector<std::string> run;  // "builtin: ..." or "program: ..."
};

// udev's patterns: shell globs, with "|" between alternatives.
bool Glob(const std::string& APattern, const std::string& AValue) {
  size_t from = 0;
  while (true) {
    const size_t bar = APattern.find('|', from);
    const std::string alt = APattern.substr(from, bar == std::string::npos ? std::string::npos : bar - from);
    if (fnmatch(alt.c_str(), AValue.c_str(), 0) == 0) return true;
    if (bar == std::string::npos) return false;
    from = bar + 1;
  }
}

std::optional<std::string> Lookup(const std::map<std::string, std::string>& AMap, const std::string& AKey) {
  const auto it = AMap.find(AKey);
  return it == AMap.end() ? std::nullopt : std::optional<std::string>(it->second);
}

// A match on a value that may be missing: a missing one matches nothing
// with "==" and anything with "!=" (udev compares it as empty).
bool Matches(const Token& AToken, const std::optional<std::string>& AValue) {
  const bool hit = Glob(AToken.value, AValue.value_or(""));
  return AToken.op == "==" ? hit : !hit;
}

// $attr{name} and %s{name} of the event's device; "$$" and "%%" are the
// characters themselves.
std::string Substitute(const std::string& AValue, const Device& ADevice) {
  std::string out;
  for (size_t i = 0; i < AValue.size();) {
    const std::string_view rest = std::string_view(AValue).substr(i);
    if (rest.starts_with("$$") || rest.starts_with("%%")) {
      out += AValue[i];
      i += 2;
      continue;
    }
    const size_t open = rest.starts_with("$attr{") ? 6 : rest.starts_with("%s{") ? 3 : 0;
    const size_t close = open ? rest.find('}', open) : std::string_view::npos;
    if (close == std::string_view::npos) {
      out += AValue[i++];
      continue;
    }
    out += Lookup(ADevice.attrs, std::string(rest.substr(open, close - open))).value_or("");
    i += close + 1;
  }
  return out;
}

Outcome Apply(const std::vector<Rule>& ARules, const Event& AEvent) {
  Outcome out;
  const Device& dev = AEvent.chain.front();
  for (const Rule& rule : ARules) {
    bool match = true;
    std::vector<const Token*> parentKeys;
    for (const Token& t : rule) {
      if (!IsMatchOp(t.op)) continue;
      if (t.key == "ACTION") {
        match = match && Matches(t, AEvent.action);
      } else if (t.key == "SUBSYSTEM") {
        match = match && Matches(t, dev.subsystem);
      } else if (t.key == "KERNEL") {
        match = match && Matches(t, dev.kernel);
      } else if (t.key == "ENV") {
        match = match && Matches(t, Lookup(dev.env, t.attr));
      } else if (t.key == "ATTR") {
        match = match && Matches(t, Lookup(dev.attrs, t.attr));
      } else if (t.key == "TAG") {
        match = match && Matches(t, out.tags.count(t.value) ? std::optional<std::string>(t.value) : std::nullopt);
      } else if (t.key == "ATTRS" || t.key == "SUBSYSTEMS" || t.key == "KERNELS") {
        parentKeys.push_back(&t);
      } else {
        ADD_FAILURE() << "the test does not match on " << t.key << " yet";
        match = false;
      }
    }
    // The keys that look at parents must all hold on one device of the chain.
    if (match && !parentKeys.empty()) {
      match = std::any_of(AEvent.chain.begin(), AEvent.chain.end(), [&](const Device& d) {
        return std::all_of(parentKeys.begin(), parentKeys.end(), [&](const Token* t) {
          if (t->key == "ATTRS") return Matches(*t, Lookup(d.attrs, t->attr));
          return Matches(*t, t->key == "SUBSYSTEMS" ? d.subsystem : d.kernel);
        });
      });
    }
    if (!match) continue;
    for (const Token& t : rule) {
      if (IsMatchOp(t.op)) continue;
      const std::string value = Substitute(t.value, dev);
      if (t.key == "GROUP") {
        out.group = value;
      } else if (t.key == "MODE") {
        out.mode = value;
      } else if (t.key == "TAG") {
        if (t.op == "-=") {
          out.tags.erase(value);
        } else {
          if (t.op != "+=") out.tags.clear();
          out.tags.insert(value);
        }
      } else if (t.key == "RUN") {
        if (t.op != "+=") out.run.clear();
        out.run.push_back((t.attr == "builtin" ? "builtin: " : "program: ") + value);
      } else {
        ADD_FAILURE() << "the test does not apply " << t.key << " yet";
      }
    }
  }
  return out;
}

// A reader (or another USB device) being plugged in.
Event UsbDevice(const std::string& AAction, const std::string& AVendor, const std::string& AProduct) {
  Device usb{"usb", "1-2", {{"DEVTYPE", "usb_device"}}, {{"idVendor", AVendor}, {"idProduct", AProduct}}};
  return {AAction, {usb}};
}

// Its tty once the serial driver has bound: tty, usb-serial port, USB
// interface, USB device.
Event UsbTty(const std::string& AVendor, const std::string& AProduct) {
  Device tty{"tty", "ttyUSB0", {}, {{"dev", "188:0"}}};
  Device port{"usb-serial", "ttyUSB0", {}, {{"port_number", "0"}}};
  Device iface{"usb", "1-2:1.0", {{"DEVTYPE", "usb_interface"}}, {{"bInterfaceNumber", "00"}}};
  Device usb{"usb", "1-2", {{"DEVTYPE", "usb_device"}}, {{"idVendor", AVendor}, {"idProduct", AProduct}}};
  return {"add", {tty, port, iface, usb}};
}

// The product ids the program registers for its reader, from its source:
// the table of kReaderPids without 0x0000 (which lists plain serial ports)
// and 0xFFFF (which lists the first two legacy ports), neither a USB id.
std::set<std::string> ProgramReaderIds() {
  const std::string source = ReadText(SORVEX_READER_IDS_SOURCE);
  const size_t name = source.find("kReaderPids[]");
  const size_t open = name == std::string::npos ? name : source.find('{', name);
  const size_t close = open == std::string::npos ? open : source.find('}', open);
  if (close == std::string::npos) return {};
  const std::string list = source.substr(open + 1, close - open - 1);
  std::set<std::string> ids;
  for (size_t i = 0; (i = list.find_first_of("xX", i)) != std::string::npos; ++i) {
    if (i == 0 || list[i - 1] != '0') continue;
    const size_t end = list.find_first_not_of("0123456789abcdefABCDEF", i + 1);
    const std::string digits = list.substr(i + 1, end == std::string::npos ? end : end - i - 1);
    if (digits.empty()) continue;
    const unsigned long id = std::stoul(digits, nullptr, 16);
    if (id == 0 || id == 0xFFFF) continue;
    std::ostringstream text;
    text << std::hex << std::setw(4) << std::setfill('0') << id;
    ids.insert(text.str());
  }
  return ids;
}

class ReaderRule : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    auto rules = ParseRules(ReadText(SORVEX_UDEV_RULE), &error);
    ASSERT_TRUE(rules) << SORVEX_UDEV_RULE << ": " << error;
    rules_ = *rules;
    ids_ = ProgramReaderIds();
    ASSERT_FALSE(ids_.empty()) << "no reader product ids found in " << SORVEX_READER_IDS_SOURCE;
  }
  std::vector<Rule> rules_;
  std::set<std::string> ids_;
};

TEST(UdevRuleParser, RefusesWhatUdevRefuses) {
  const struct {
    const char* text;
    const char* why;
  } cases[] = {
      {"SUBSYSTEM=\"tty\", GROUP=\"dialout\"\n", "SUBSYSTEM does not take ="},
      {"SUBSYSTEM==\"tty\", GROUP==\"dialout\"\n", "GROUP does not take =="},
      {"ATTR==\"0403\"\n", "ATTR needs {...}"},
      {"KERNEL{x}==\"ttyUSB0\"\n", "KERNEL takes no {...}"},
      {"SUBSYSTEMS==\"usb\", ATRS{idVendor}==\"0403\"\n", "unknown key ATRS"},
      {"SUBSYSTEM==\"tty\" GROUP=\"dialout\"\n", "a comma is missing after SUBSYSTEM"},
      {"SUBSYSTEM==\"tty\", GROUP=dialout\n", "GROUP: the value is not quoted"},
      {"SUBSYSTEM==\"tty\", GROUP=\"dialout\n", "GROUP: the value's quote is not closed"},
      {"SUBSYSTEM==\"tty\",\n", "a comma ends the rule"},
      {"RUN{shell}+=\"true\"\n", "RUN{shell}"},
      {"# fine\n\nSUBSYSTEM==\"tty\", \\\nGROUP=\"dialout\", \\\n", "the last line ends in a backslash"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(ParseRules(c.text, &error)) << c.text;
    EXPECT_NE(error.find(c.why), std::string::npos) << c.text << " gave: " << error;
  }
  std::string error;
  const auto joined = ParseRules("# a comment\n  \nSUBSYSTEM==\"tty\", \\\n  GROUP=\"dialout\"\n", &error);
  ASSERT_TRUE(joined) << error;
  ASSERT_EQ(joined->size(), 1u);
  EXPECT_EQ((*joined)[0].size(), 2u);
}

TEST_F(ReaderRule, EachRegisteredReaderGetsTheDriverAndAnOpenableTty) {
  for (const std::string& id : ids_) {
    SCOPED_TRACE("product id " + id);
    const Outcome plugged = Apply(rules_, UsbDevice("add", "0403", id));
    EXPECT_EQ(plugged.run, (std::vector<std::string>{
                               "builtin: kmod load ftdi_sio",
                               "program: /bin/sh -c 'echo 0403 " + id +
                                   " > /sys/bus/usb-serial/drivers/ftdi_sio/new_id'"}));
    const Outcome tty = Apply(rules_, UsbTty("0403", id));
    EXPECT_EQ(tty.group, "dialout");
    EXPECT_EQ(tty.mode, "0660");
    EXPECT_TRUE(tty.tags.count("uaccess"));
    EXPECT_TRUE(tty.run.empty());
  }
}

TEST_F(ReaderRule, LeavesOtherDevicesAndEventsAlone) {
  const std::string id = *ids_.begin();
  const struct {
    const char* what;
    Event event;
  } cases[] = {
      {"another vendor's device of a reader's id", UsbDevice("add", "0404", id)},
      {"the vendor's device of an unregistered id", UsbDevice("add", "0403", "1236")},
      {"a reader pulled out", UsbDevice("remove", "0403", id)},
      {"the tty of an unregistered id", UsbTty("0403", "1236")},
      {"the tty of another vendor's device", UsbTty("0404", id)},
  };
  for (const auto& c : cases) {
    const Outcome out = Apply(rules_, c.event);
    EXPECT_TRUE(out.run.empty() && out.group.empty() && out.mode.empty() && out.tags.empty()) << c.what;
  }
}

TEST_F(ReaderRule, NamesOnlyTheRegisteredIdsAndIsReadBeforeTheSeatTag) {
  // Every product id the file names, wherever it appears.
  std::set<std::string> named;
  for (const Rule& rule : rules_) {
    for (const Token& t : rule) {
      if (t.attr != "idProduct") continue;
      std::stringstream alts(t.value);
      for (std::string alt; std::getline(alts, alt, '|');) named.insert(alt);
    }
  }
  EXPECT_EQ(named, ids_);
  // udev reads the files in name order; 73-seat-late.rules turns the
  // uaccess tag into the seat user's access.
  EXPECT_LT(std::filesystem::path(SORVEX_UDEV_RULE).filename().string(), "73-seat-late.rules");
}

TEST_F(ReaderRule, TheMetainfoOffersThePackageForTheSameReaders) {
  const std::string metainfo = ReadText(SORVEX_METAINFO);
  std::set<std::string> offered;
  const std::string head = "<modalias>usb:v0403p", tail = "d*</modalias>";
  for (size_t at = 0; (at = metainfo.find(head, at)) != std::string::npos; at += head.size()) {
    std::string id = metainfo.substr(at + head.size(), 4);
    const bool hex = id.size() == 4 && id.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
    if (!hex || metainfo.compare(at + head.size() + 4, tail.size(), tail) != 0) continue;
    std::transform(id.begin(), id.end(), id.begin(), ::tolower);
    offered.insert(id);
  }
  EXPECT_EQ(offered, ids_);
}

}  // namespace
