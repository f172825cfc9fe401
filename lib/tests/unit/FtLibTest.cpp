// The FTDI driver library's version, against our own stand-in library.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "YvSeams.h"
#include "ylvane.h"

namespace {

class FtLibVersion : public ::testing::Test {
 protected:
  void TearDown() override { ylvane::SetFtLibraryPath("libftd2xx.so"); }
};

TEST_F(FtLibVersion, MissingLibraryOrFunctionLeavesTheOutputUntouched) {
  for (const char* path : {"/nonexistent/libftd2xx.so", "libm.so.6"}) {
    ylvane::SetFtLibraryPath(path);
    uint32_t v = 0xDEADBEEF;
    EXPECT_EQ(YV_GetFtLibVersion(&v), YV_E_FTD2XX_LOAD) << path;
    EXPECT_EQ(v, 0xDEADBEEFu);
  }
  EXPECT_EQ(YV_GetFtLibVersion(nullptr), E_INVALIDARG);
}

TEST_F(FtLibVersion, BytesZeroAndTwoAreExchanged) {
  // Kept loaded so that its settings survive the library's own load.
  void* fake = dlopen(FAKE_FTD2XX_PATH, RTLD_NOW);
  ASSERT_NE(fake, nullptr) << dlerror();
  auto set = reinterpret_cast<void (*)(uint32_t, uint32_t)>(dlsym(fake, "FakeFt_SetLibraryVersion"));
  ASSERT_NE(set, nullptr);
  ylvane::SetFtLibraryPath(FAKE_FTD2XX_PATH);

  set(0x00030102, 0);  // 3.1.2
  uint32_t v = 0;
  EXPECT_EQ(YV_GetFtLibVersion(&v), S_OK);
  EXPECT_EQ(v, 0x00020103u);
  // Works without a library object, and byte 3 is cleared.
  set(0xAA0B0C0D, 0);
  EXPECT_EQ(YV_GetFtLibVersion(&v), S_OK);
  EXPECT_EQ(v, 0x000D0C0Bu);

  set(0x00030102, 4);  // the driver reports an error
  v = 7;
  EXPECT_EQ(YV_GetFtLibVersion(&v), E_FAIL);
  EXPECT_EQ(v, 7u);
  dlclose(fake);
}

}  // namespace
