// Result codes: the mapping of driver and platform errors to low codes, and
// the device-number-based ErrorBase.
#include <gtest/gtest.h>

#include "ResultCodes.h"
#include "qio/platform/errors.h"
#include "qio5162/Zqs5162.h"

namespace qio::library {
namespace {

TEST(MapErrorValue, DriverCodesLoseTheirDriverBit) {
  EXPECT_EQ(MapErrorValue(0x2000000A), 0x0Au);
  EXPECT_EQ(MapErrorValue(0x20000032), 0x32u);
  EXPECT_EQ(MapErrorValue(0x20000040), 0x40u);
  EXPECT_EQ(MapErrorValue(0x20000068), 0x68u);
}

TEST(MapErrorValue, PlatformErrorsGetCodesOfTheirOwn) {
  EXPECT_EQ(MapErrorValue(0), 0u);
  EXPECT_EQ(MapErrorValue(2), 101u);
  EXPECT_EQ(MapErrorValue(6), 102u);
  EXPECT_EQ(MapErrorValue(56), 103u);
  EXPECT_EQ(MapErrorValue(998), 105u);
  // All ones carries the driver bit too; it still means the unspecified failure.
  EXPECT_EQ(MapErrorValue(0xFFFFFFFF), 100u);
}

TEST(MapErrorValue, OtherValuesPassUnchanged) {
  EXPECT_EQ(MapErrorValue(50), 50u);  // a control code the driver does not know
  EXPECT_EQ(MapErrorValue(87), 87u);
  EXPECT_EQ(MapErrorValue(1460), 1460u);
}

TEST(MapDriverError, ReadsTheThreadsLastError) {
  platform::SetLastError(0x20000032);
  EXPECT_EQ(MapDriverError(), 0x32u);
  platform::SetLastError(0);
  EXPECT_EQ(MapDriverError(), 0u);
}

TEST(ErrorBase, PublicMacrosAgreeWithTheLibrary) {
  for (std::uint32_t n : {0u, 1u, 3u, 254u}) EXPECT_EQ(ZQS_ERROR_BASE(n), ErrorBase(n));
  EXPECT_EQ(ErrorBase(3) + MapErrorValue(0x20000032), 0x4032u);
  EXPECT_EQ(ZQS_LOW_CODE(0x4032u), ZQS_LOW_BUSY);
}

}  // namespace
}  // namespace qio::library
