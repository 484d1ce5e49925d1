// The loadable module as the device manager sees it: its entry points by
// name, and what they answer for handles and calls that carry nothing.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>

#include "qio/platform/errors.h"
#include "qio/platform/stream_driver.h"
#include "qio5162/driver_state.h"

namespace {

class ModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    module = dlopen(QIO_DRIVER_MODULE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
  }
  void TearDown() override {
    if (module != nullptr) dlclose(module);
  }
  template <typename Fn>
  Fn Entry(const char* name) {
    void* symbol = dlsym(module, name);
    EXPECT_NE(symbol, nullptr) << name;
    return reinterpret_cast<Fn>(symbol);
  }
  void* module = nullptr;
};

TEST_F(ModuleTest, StreamCallsWithoutDataAnswerAsDocumented) {
  auto read = Entry<QioStreamRead>("Q62_Read");
  auto write = Entry<QioStreamWrite>("Q62_Write");
  auto seek = Entry<QioStreamSeek>("Q62_Seek");
  auto powerUp = Entry<QioStreamPower>("Q62_PowerUp");
  auto powerDown = Entry<QioStreamPower>("Q62_PowerDown");
  ASSERT_TRUE(read && write && seek && powerUp && powerDown);
  char buffer[8] = {};
  EXPECT_EQ(read(0x1234, buffer, sizeof buffer), 0u);
  EXPECT_EQ(read(0, nullptr, 0), 0u);
  EXPECT_EQ(write(0x1234, buffer, sizeof buffer), 0u);
  EXPECT_EQ(seek(0x1234, 10, 0), 0xFFFFFFFFu);
  EXPECT_EQ(seek(0, -1, 2), 0xFFFFFFFFu);
  powerUp(0);
  powerDown(0);
}

TEST_F(ModuleTest, NullHandlesAreRefusedThroughTheExports) {
  auto init = Entry<QioStreamInit>("Q62_Init");
  auto deinit = Entry<QioStreamDeinit>("Q62_Deinit");
  auto open = Entry<QioStreamOpen>("Q62_Open");
  auto close = Entry<QioStreamClose>("Q62_Close");
  auto ioctl = Entry<QioStreamIoControl>("Q62_IOControl");
  ASSERT_TRUE(init && deinit && open && close && ioctl);
  EXPECT_EQ(init(nullptr, nullptr), 0u);
  EXPECT_EQ(deinit(0), 0);
  EXPECT_EQ(open(0, QIO_GENERIC_READ | QIO_GENERIC_WRITE, 0), 0u);
  EXPECT_EQ(qio::platform::GetLastError(), 2u);
  EXPECT_EQ(close(0), 0);
  EXPECT_EQ(qio::platform::GetLastError(), 6u);
  std::uint32_t returned = 7;
  EXPECT_EQ(ioctl(0, 0x9C406400, nullptr, 0, nullptr, 0, &returned), 0);
  EXPECT_EQ(qio::platform::GetLastError(), 0x20000003u);
}

TEST_F(ModuleTest, StateQueryRefusesWhatItCannotFill) {
  auto query = Entry<QioStreamQuery>("Q62_QueryState");
  ASSERT_NE(query, nullptr);
  QioDriverState state;
  std::memset(&state, 0xEE, sizeof state);
  // No device context or no record: FALSE, and nothing is written.
  EXPECT_EQ(query(0, &state, sizeof state), 0);
  EXPECT_EQ(query(0, nullptr, sizeof state), 0);
  EXPECT_EQ(state.size, 0xEEEEEEEEu);
}

TEST_F(ModuleTest, DllMainAlwaysSucceeds) {
  using DllMainFn = int (*)(void*, std::uint32_t, void*);
  auto dllMain = Entry<DllMainFn>("DllMain");
  ASSERT_NE(dllMain, nullptr);
  EXPECT_EQ(dllMain(module, 1, nullptr), 1);
  EXPECT_EQ(dllMain(module, 0, nullptr), 1);
}

}  // namespace
