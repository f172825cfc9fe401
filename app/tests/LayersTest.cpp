// The program's sources keep their layers: a file includes headers of its
// own folder and of the folders below it only. The build's include paths
// already refuse a higher header asked for by name; this scan also catches
// a path written out ("../window/MainForm.h"), which the compiler finds
// beside the including file whatever the include path says, and a header
// of ours asked for by a folder path instead of its plain name.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Each folder of app/src and what its files may include, as paths below the
// project's root. desktop/x11 is the X11 layer: no Qt, nothing of ours.
// port and desktop both stand on core and know nothing of each other.
// Of the library's insides the port has the event class alone (its folder
// holds nothing else), which the window sees through the port's header.
const std::map<std::string, std::vector<std::string>> kLayers = {
    {"app/src/core", {"app/src/core"}},
    {"app/src/port", {"app/src/core", "app/src/port", "lib/include", "lib/src/sys/event"}},
    {"app/src/desktop/x11", {"app/src/desktop/x11"}},
    {"app/src/desktop", {"app/src/core", "app/src/desktop", "app/src/desktop/x11"}},
    {"app/src/window",
     {"app/src/core", "app/src/port", "app/src/desktop", "app/src/desktop/x11", "app/src/window",
      "lib/include", "lib/src/sys/event"}},
};
// The library's header folders, where a name not found among ours is looked
// for; a header counts as belonging to the innermost one that holds it.
const std::vector<std::string> kLibraryRoots = {"lib/include", "lib/src/sys/event", "lib/src"};

std::string Relative(const fs::path& APath, const fs::path& ARoot) {
  return APath.lexically_relative(ARoot).generic_string();
}

// The folder a header counts as belonging to: its own folder for ours, the
// header folder for the library's; empty for anything else.
std::string HomeOf(const fs::path& AHeader, const fs::path& ARoot) {
  const std::string rel = Relative(AHeader, ARoot);
  std::string home;
  for (const std::string& lib : kLibraryRoots)
    if (rel.rfind(lib + "/", 0) == 0 && lib.size() > home.size()) home = lib;
  if (!home.empty()) return home;
  if (rel.rfind("app/src/", 0) == 0) return Relative(AHeader.parent_path(), ARoot);
  return {};
}

// The name between the quotes of a line '#include "name"' (blanks allowed
// around the '#'), or nothing.
std::string QuotedInclude(const std::string& ALine) {
  size_t at = ALine.find_first_not_of(" \t");
  if (at == std::string::npos || ALine[at] != '#') return {};
  at = ALine.find_first_not_of(" \t", at + 1);
  if (at == std::string::npos || ALine.compare(at, 7, "include") != 0) return {};
  at = ALine.find_first_not_of(" \t", at + 7);
  if (at == std::string::npos || ALine[at] != '"') return {};
  const size_t end = ALine.find('"', at + 1);
  return end == std::string::npos ? std::string() : ALine.substr(at + 1, end - at - 1);
}

// What is wrong with one quoted include of AFile, or nothing.
std::string IncludeFault(const fs::path& AFile, const std::string& AName, const std::string& ALayer,
                         const fs::path& ARoot) {
  const std::string where = Relative(AFile, ARoot) + ": \"" + AName + "\" ";
  // As the compiler looks: beside the file first, then along the folders.
  fs::path found;
  if (fs::is_regular_file(AFile.parent_path() / AName)) {
    found = fs::weakly_canonical(AFile.parent_path() / AName);
  } else {
    std::vector<fs::path> candidates;
    for (const auto& [folder, uses] : kLayers)
      if (fs::is_regular_file(ARoot / folder / AName)) candidates.push_back(ARoot / folder / AName);
    for (const std::string& lib : kLibraryRoots)
      if (fs::is_regular_file(ARoot / lib / AName)) candidates.push_back(ARoot / lib / AName);
    if (candidates.empty()) return where + "is found nowhere in the program's or the library's folders";
    if (candidates.size() > 1) return where + "is found in more than one folder";
    found = fs::weakly_canonical(candidates.front());
  }
  const std::string home = HomeOf(found, ARoot);
  if (home.empty()) return where + "lies outside the program's sources and the library's headers";
  const std::vector<std::string>& uses = kLayers.at(ALayer);
  if (std::find(uses.begin(), uses.end(), home) == uses.end())
    return where + "is a header of " + home + ", which " + ALayer + " may not use";
  if (home.rfind("app/src/", 0) == 0 && AName != found.filename().string())
    return where + "names a folder: the program's headers are included by their plain name";
  return {};
}

// Every fault of the tree below ARoot: files outside the layer folders, and
// includes the layer rule does not allow.
std::vector<std::string> LayerFaults(const fs::path& ARootGiven) {
  const fs::path root = fs::weakly_canonical(ARootGiven);
  const fs::path src = root / "app/src";
  std::vector<std::string> faults;
  if (!fs::is_directory(src)) return {"no folder " + src.string()};
  int files = 0;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(src)) {
    if (!entry.is_regular_file()) continue;
    ++files;
    const fs::path file = entry.path();
    const std::string layer = Relative(file.parent_path(), root);
    if (!kLayers.count(layer)) {
      faults.push_back(Relative(file, root) + ": lies in a folder that is no layer");
      continue;
    }
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
      const std::string name = QuotedInclude(line);
      if (name.empty()) continue;
      std::string fault = IncludeFault(file, name, layer, root);
      if (!fault.empty()) faults.push_back(std::move(fault));
    }
  }
  if (files == 0) faults.push_back("no files below " + src.string());
  return faults;
}

TEST(Layers, NoFileOfTheProgramIncludesAHeaderOfAHigherLayer) {
  const std::vector<std::string> faults = LayerFaults(SORVEX_SOURCE_DIR);
  std::string all;
  for (const std::string& fault : faults) all += fault + "\n";
  EXPECT_TRUE(faults.empty()) << all;
}

// The build's side of the rule: what each layer's targets have on their
// include path, the folders the libraries they link hand on included (as
// the build wrote it down). A folder of the sources there that the layer
// may not use lets its files include that folder's headers by name.
TEST(Layers, NoTargetOfTheProgramHasAFolderOfAHigherLayerOnItsIncludePath) {
  const fs::path root = fs::weakly_canonical(SORVEX_SOURCE_DIR);
  std::ifstream in(SORVEX_LAYER_INCLUDE_PATHS);
  ASSERT_TRUE(in) << SORVEX_LAYER_INCLUDE_PATHS;
  int targets = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.empty()) continue;
    ++targets;
    const size_t tab = line.find('\t');
    ASSERT_NE(tab, std::string::npos) << line;
    const std::string layer = line.substr(0, tab);
    ASSERT_TRUE(kLayers.count(layer)) << layer;
    const std::vector<std::string>& uses = kLayers.at(layer);
    std::string dirs = line.substr(tab + 1) + ";";
    for (size_t at = 0, end; (end = dirs.find(';', at)) != std::string::npos; at = end + 1) {
      const std::string dir = Relative(fs::weakly_canonical(dirs.substr(at, end - at)), root);
      // Qt's headers, the system's, and what the build generates.
      if (dir.rfind("app/", 0) != 0 && dir.rfind("lib/", 0) != 0) continue;
      EXPECT_NE(std::find(uses.begin(), uses.end(), dir), uses.end())
          << "a target of " << layer << " has " << dir << " on its include path";
    }
  }
  EXPECT_GT(targets, 0);
}

// A small tree of the same shape, with one header in each layer, an
// including file placed in one folder, and the fault its include must give.
struct IncludeCase {
  const char* folder;   // below app/src
  const char* include;  // as written between the quotes
  const char* fault;    // part of the one fault expected; empty: none
};
void PrintTo(const IncludeCase& ACase, std::ostream* AOut) {
  *AOut << "app/src/" << ACase.folder << " includes \"" << ACase.include << '"';
}

class LayerRule : public testing::TestWithParam<IncludeCase> {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "sorvex-layers-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    m_root = tmpl;
    for (const char* header :
         {"app/src/core/Profiles.h", "app/src/core/Twice.h", "app/src/port/ReaderPort.h",
          "app/src/desktop/Transfer.h", "app/src/desktop/x11/XDesktop.h", "app/src/window/MainForm.h",
          "app/src/window/Twice.h", "lib/include/ylvane.h", "lib/src/YvLib.h", "lib/src/sys/event/Event.h",
          "Outside.h"})
      Write(header, "#pragma once\n");
  }
  void TearDown() override {
    if (!m_root.empty()) fs::remove_all(m_root);
  }
  void Write(const fs::path& AName, const std::string& AText) {
    fs::create_directories((m_root / AName).parent_path());
    std::ofstream(m_root / AName) << AText;
  }

  fs::path m_root;
};

TEST_P(LayerRule, AllowsOwnAndLowerLayersOnly) {
  const IncludeCase& c = GetParam();
  const std::string folder = c.folder[0] ? std::string("app/src/") + c.folder : "app/src";
  Write(folder + "/Case.cpp", std::string("// a file\n#include <QString>\n  #  include \"") + c.include + "\"\n");
  const std::vector<std::string> faults = LayerFaults(m_root);
  if (!c.fault[0]) {
    EXPECT_TRUE(faults.empty()) << faults.front();
  } else {
    ASSERT_EQ(faults.size(), 1u);
    EXPECT_NE(faults.front().find(folder + "/Case.cpp"), std::string::npos) << faults.front();
    EXPECT_NE(faults.front().find(c.fault), std::string::npos) << faults.front();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Includes, LayerRule,
    testing::Values(
        IncludeCase{"core", "Profiles.h", ""}, IncludeCase{"port", "Profiles.h", ""},
        IncludeCase{"port", "ReaderPort.h", ""}, IncludeCase{"port", "ylvane.h", ""},
        IncludeCase{"port", "Event.h", ""}, IncludeCase{"desktop", "Profiles.h", ""},
        IncludeCase{"desktop", "XDesktop.h", ""}, IncludeCase{"desktop/x11", "XDesktop.h", ""},
        IncludeCase{"window", "MainForm.h", ""}, IncludeCase{"window", "ReaderPort.h", ""},
        IncludeCase{"window", "Transfer.h", ""}, IncludeCase{"window", "XDesktop.h", ""},
        IncludeCase{"window", "ylvane.h", ""},
        // A higher layer, by name or by a path the compiler finds beside the file.
        IncludeCase{"core", "MainForm.h", "of app/src/window, which app/src/core may not use"},
        IncludeCase{"core", "../window/MainForm.h", "of app/src/window, which app/src/core may not use"},
        IncludeCase{"core", "../port/ReaderPort.h", "of app/src/port, which app/src/core may not use"},
        IncludeCase{"desktop", "../../src/window/MainForm.h", "of app/src/window, which"},
        // The two layers beside each other, and the X11 layer below everything of ours.
        IncludeCase{"port", "Transfer.h", "of app/src/desktop, which app/src/port may not use"},
        IncludeCase{"desktop", "ReaderPort.h", "of app/src/port, which app/src/desktop may not use"},
        IncludeCase{"desktop/x11", "Profiles.h", "of app/src/core, which app/src/desktop/x11 may not use"},
        // The port library: its interface from the port up, its insides for the port alone.
        IncludeCase{"core", "ylvane.h", "of lib/include, which app/src/core may not use"},
        IncludeCase{"window", "YvLib.h", "of lib/src, which app/src/window may not use"},
        IncludeCase{"port", "YvLib.h", "of lib/src, which app/src/port may not use"},
        IncludeCase{"core", "../../../lib/src/YvLib.h", "of lib/src, which app/src/core may not use"},
        // Our headers go by their plain names only.
        IncludeCase{"desktop", "x11/XDesktop.h", "names a folder"},
        IncludeCase{"window", "../core/Profiles.h", "names a folder"},
        // What cannot be placed, and files outside the layer folders.
        IncludeCase{"core", "Missing.h", "is found nowhere"}, IncludeCase{"desktop", "Twice.h", "more than one"},
        IncludeCase{"core", "../../../Outside.h", "lies outside"},
        IncludeCase{"extra", "Profiles.h", "in a folder that is no layer"},
        IncludeCase{"", "Profiles.h", "in a folder that is no layer"}));

}  // namespace
