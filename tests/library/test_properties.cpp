// Features record and properties: the 800 bytes, size queries and short
// buffers, the constant bit patterns, and the output masks read from and
// written to the driver's direction codes.
#include <gtest/gtest.h>

#include <cstring>

#include "RecorderFixture.h"
#include "qio/protocol/ioctl.h"

namespace qio::library::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kArgument = kRecorderBase + ZQS_LOW_ARGUMENT;
constexpr std::uint32_t kProperty = kRecorderBase + ZQS_LOW_PROPERTY;

std::uint32_t U32(const std::uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24; }

class PropertyTest : public RecorderTest {
 protected:
  // Reads a property into a buffer of `capacity` bytes.
  std::uint32_t Get(std::uint16_t id, Bytes& buffer, std::uint32_t capacity, std::uint32_t* length) {
    buffer.assign(capacity + 4, 0xCC);  // guard bytes after the capacity
    *length = capacity;
    return DeviceGetProperty(handle_, id, buffer.data(), length);
  }
};

TEST_F(PropertyTest, FeaturesRecordIs800BytesOfFixedLayout) {
  Bytes f(900, 0xCC);
  ASSERT_EQ(DeviceGetFeatures(handle_, f.data(), 800), ZQS_SUCCESS);
  const char16_t version[] = u"Ver 2.1";
  const char16_t file[] = u"Zqs5162.dll";
  EXPECT_EQ(std::memcmp(f.data(), version, sizeof version), 0);
  EXPECT_EQ(std::memcmp(f.data() + 16, file, sizeof file), 0);
  EXPECT_EQ(U32(&f[48]), 166u);
  EXPECT_EQ(f[58] | f[59] << 8, 24);
  EXPECT_EQ(f[60] | f[61] << 8, 24);
  EXPECT_EQ(f[62] | f[63] << 8, 1);
  EXPECT_EQ(f[64] | f[65] << 8, 2);
  EXPECT_EQ(U32(&f[92]), 0x2026u);
  std::size_t nonZero = 0;
  for (std::size_t i = 0; i < 800; ++i) nonZero += f[i] != 0;
  // 7 + 11 text characters, one byte each of 166, 24, 24, 1, 2, two of 0x2026.
  EXPECT_EQ(nonZero, 25u);
  EXPECT_EQ(f[800], 0xCC);  // not a byte more
  EXPECT_EQ(rec_count(), 0u);
}

TEST_F(PropertyTest, FeaturesNeedABufferOfTheRecordsSize) {
  Bytes f(800, 0xCC);
  EXPECT_EQ(DeviceGetFeatures(handle_, nullptr, 800), kArgument);
  EXPECT_EQ(DeviceGetFeatures(handle_, f.data(), 799), kArgument);
  EXPECT_EQ(f[0], 0xCC);
}

TEST_F(PropertyTest, SizeQueryShortBufferAndValueOfTheDiChannelCount) {
  std::uint32_t length = 123;
  EXPECT_EQ(DeviceGetProperty(handle_, 0x3C83, nullptr, &length), ZQS_SUCCESS);
  EXPECT_EQ(length, 4u);
  Bytes buffer;
  EXPECT_EQ(Get(0x3C83, buffer, 2, &length), kArgument);
  EXPECT_EQ(length, 4u);
  EXPECT_EQ(buffer[0], 0);  // cleared up to the length given
  EXPECT_EQ(buffer[1], 0);
  EXPECT_EQ(buffer[2], 0xCC);
  ASSERT_EQ(Get(0x3C83, buffer, 4, &length), ZQS_SUCCESS);
  EXPECT_EQ(U32(buffer.data()), 24u);
  EXPECT_EQ(length, 4u);
  EXPECT_EQ(rec_count(), 0u);
}

TEST_F(PropertyTest, UnknownIdentifierStillClearsTheBuffer) {
  Bytes buffer;
  std::uint32_t length = 0;
  EXPECT_EQ(Get(0x1234, buffer, 8, &length), kProperty);
  EXPECT_EQ(buffer, (Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0xCC, 0xCC, 0xCC, 0xCC}));
  EXPECT_EQ(DeviceGetProperty(handle_, 0x3C83, buffer.data(), nullptr), kArgument);
}

TEST_F(PropertyTest, PwmLimitsHaveTheirPublishedBitPatterns) {
  Bytes buffer;
  std::uint32_t length = 0;
  ASSERT_EQ(Get(0x5008, buffer, 16, &length), ZQS_SUCCESS);
  EXPECT_EQ(length, 16u);
  EXPECT_EQ(U32(&buffer[0]), 0x3A031270u);
  EXPECT_EQ(U32(&buffer[8]), 0x3A03126Fu);
  float values[4];
  std::memcpy(values, buffer.data(), sizeof values);
  EXPECT_EQ(values[1], 60.0f);
  EXPECT_EQ(values[3], 60.0f);
  EXPECT_FLOAT_EQ(values[0], 0.0005f);
}

TEST_F(PropertyTest, ConstantsAndSettings) {
  Bytes b;
  std::uint32_t n = 0;
  ASSERT_EQ(Get(0x0000, b, 4, &n), ZQS_SUCCESS);
  EXPECT_EQ(U32(b.data()), kRecorderDevice);
  ASSERT_EQ(Get(0x0001, b, 4, &n), ZQS_SUCCESS);
  EXPECT_EQ(U32(b.data()), 166u);
  ASSERT_EQ(Get(0x0003, b, 4, &n), ZQS_SUCCESS);
  EXPECT_EQ(U32(b.data()), 0x300u);
  ASSERT_EQ(Get(0x0004, b, 4, &n), ZQS_SUCCESS);
  EXPECT_EQ(U32(b.data()), 5u);
  ASSERT_EQ(Get(0x3005, b, 3, &n), ZQS_SUCCESS);
  EXPECT_EQ((Bytes{b[0], b[1], b[2]}), (Bytes{3, 3, 4}));
  ASSERT_EQ(Get(0x3C85, b, 3, &n), ZQS_SUCCESS);
  EXPECT_EQ((Bytes{b[0], b[1], b[2], b[3]}), (Bytes{0xFF, 0xFF, 0xFF, 0xCC}));
  ASSERT_EQ(Get(0x5006, b, 4, &n), ZQS_SUCCESS);
  EXPECT_EQ((Bytes{b[0], b[1], b[2], b[3]}), (Bytes{0x00, 0x50, 0x01, 0x50}));
  ASSERT_EQ(Get(0x5001, b, 8, &n), ZQS_SUCCESS);
  EXPECT_EQ(U32(&b[0]), 0xE7u);
  EXPECT_EQ(U32(&b[4]), 0xE7u);
  ASSERT_EQ(Get(0x5010, b, 8, &n), ZQS_SUCCESS);
  EXPECT_EQ(U32(&b[4]), 16u);
  ASSERT_EQ(Get(0x4808, b, 4, &n), ZQS_SUCCESS);
  EXPECT_EQ(U32(b.data()), 3u);
  EXPECT_EQ(rec_count(), 0u);
}

TEST_F(PropertyTest, OutputMasksComeFromTheDriversDirectionCodes) {
  rec_set_response(protocol::IOCTL_PROPERTY_GET, "\x00\x01\x03", 3);
  Bytes b;
  std::uint32_t n = 0;
  ASSERT_EQ(Get(0x3004, b, 16, &n), ZQS_SUCCESS);
  EXPECT_EQ(n, 12u);
  EXPECT_EQ(U32(&b[0]), 0x00u);
  EXPECT_EQ(U32(&b[4]), 0xFFu);
  EXPECT_EQ(U32(&b[8]), 0xF0u);
  EXPECT_EQ(U32(&b[12]), 0u);  // cleared, not a port
  const RecRequest r = OnlyRequest();
  EXPECT_EQ(InputOf(r), (Bytes{0, 0, 0, 0}));
  EXPECT_EQ(r.outLength, 3u);

  rec_set_response(protocol::IOCTL_PROPERTY_GET, "\x02\x04\x00", 3);
  ASSERT_EQ(Get(0x3006, b, 12, &n), ZQS_SUCCESS);
  EXPECT_EQ(U32(&b[0]), 0xFFFFFFFFu);
  EXPECT_EQ(U32(&b[4]), 0x0Fu);
}

TEST_F(PropertyTest, RefusedDirectionReadLeavesTheBufferCleared) {
  rec_fail(protocol::IOCTL_PROPERTY_GET, 0x2000000A);
  Bytes b;
  std::uint32_t n = 0;
  EXPECT_EQ(Get(0x3004, b, 12, &n), kRecorderBase + 0x0Au);
  EXPECT_EQ(Bytes(b.begin(), b.begin() + 12), Bytes(12, 0));
}

TEST_F(PropertyTest, SetOutputMasksSendsTheThreeCodes) {
  const std::uint32_t masks[3] = {0xFF, 0x00, 0x0F};
  ASSERT_EQ(DeviceSetProperty(handle_, 0x3004, masks, sizeof masks), ZQS_SUCCESS);
  const RecRequest r = OnlyRequest();
  EXPECT_EQ(r.code, protocol::IOCTL_PROPERTY_SET);
  EXPECT_EQ(InputOf(r), (Bytes{0, 0, 0, 0, 1, 0, 4, 0}));
}

TEST_F(PropertyTest, SetRefusesBadMasksShortDataAndOtherIdentifiers) {
  const std::uint32_t portAHalf[3] = {0xF0, 0x00, 0x00};
  EXPECT_EQ(DeviceSetProperty(handle_, 0x3004, portAHalf, sizeof portAHalf), kArgument);
  const std::uint32_t oddMask[3] = {0xFF, 0x01, 0x00};
  EXPECT_EQ(DeviceSetProperty(handle_, 0x3006, oddMask, sizeof oddMask), kArgument);
  const std::uint32_t full[3] = {0xFFFFFFFF, 0, 0};  // read back for code 2, never accepted
  EXPECT_EQ(DeviceSetProperty(handle_, 0x3004, full, sizeof full), kArgument);
  EXPECT_EQ(DeviceSetProperty(handle_, 0x3004, portAHalf, 8), kArgument);
  EXPECT_EQ(DeviceSetProperty(handle_, 0x3004, nullptr, 12), kArgument);
  EXPECT_EQ(DeviceSetProperty(handle_, 0x3C83, portAHalf, 12), kProperty);
  EXPECT_EQ(rec_count(), 0u);
}

}  // namespace
}  // namespace qio::library::testing
