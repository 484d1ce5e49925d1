// The port bus: floating reads of unmapped ports, mapping rules, dispatch
// relative to the base, splitting of accesses across range ends into
// little-endian byte accesses, and unmapping while a handler runs.

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <thread>
#include <vector>

#include "qio/platform/clock.h"
#include "qio/platform/kernel.h"
#include "qio/platform/port_io.h"

namespace qio::platform {
namespace {

struct Access {
  bool write;
  std::uint16_t offset;
  unsigned width;
  std::uint32_t value;
  bool operator==(const Access&) const = default;
};

// Byte-addressed registers; every access is recorded.
class MemoryDevice final : public PortDevice {
 public:
  explicit MemoryDevice(std::size_t size) : bytes(size, 0) {}

  std::uint32_t PortRead(std::uint16_t offset, unsigned width) override {
    EXPECT_LE(offset + width, bytes.size());
    std::uint32_t value = 0;
    for (unsigned i = 0; i < width; ++i) value |= std::uint32_t{bytes[offset + i]} << (8 * i);
    trace.push_back({false, offset, width, value});
    return value;
  }
  void PortWrite(std::uint16_t offset, unsigned width, std::uint32_t value) override {
    EXPECT_LE(offset + width, bytes.size());
    for (unsigned i = 0; i < width; ++i) bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
    trace.push_back({true, offset, width, value});
  }

  std::vector<std::uint8_t> bytes;
  std::vector<Access> trace;
};

class PortBusTest : public ::testing::Test {
 protected:
  void SetUp() override { UnmapAllPorts(); }
  void TearDown() override { UnmapAllPorts(); }
};

TEST_F(PortBusTest, UnmappedPortsFloatHighAndIgnoreWrites) {
  EXPECT_EQ(PortInByte(0x300), 0xFFu);
  EXPECT_EQ(PortInWord(0x300), 0xFFFFu);
  EXPECT_EQ(PortInDword(0x300), 0xFFFFFFFFu);
  EXPECT_EQ(PortInDword(0xFFFE), 0xFFFFFFFFu);
  PortOutByte(0x300, 0);
  PortOutWord(0x300, 0);
  PortOutDword(0xFFFF, 0);
  EXPECT_EQ(PortInByte(0x300), 0xFFu);
}

TEST_F(PortBusTest, AccessInsideTheRangeGoesToTheDeviceInOneCall) {
  MemoryDevice device(0x40);
  ASSERT_TRUE(MapPorts(0x300, 0x40, &device));
  PortOutWord(0x322, 0x1F05);
  PortOutByte(0x324, 0x00);
  PortOutDword(0x33C, 0xA1B2C3D4);
  EXPECT_EQ(PortInWord(0x322), 0x1F05u);
  EXPECT_EQ(PortInByte(0x33F), 0xA1u);
  EXPECT_EQ(PortInDword(0x33C), 0xA1B2C3D4u);
  const std::vector<Access> expected{
      {true, 0x22, 2, 0x1F05}, {true, 0x24, 1, 0x00},      {true, 0x3C, 4, 0xA1B2C3D4},
      {false, 0x22, 2, 0x1F05}, {false, 0x3F, 1, 0xA1}, {false, 0x3C, 4, 0xA1B2C3D4}};
  EXPECT_EQ(device.trace, expected);
  EXPECT_EQ(PortInByte(0x340), 0xFFu);  // one past the end
  EXPECT_EQ(PortInByte(0x2FF), 0xFFu);
}

TEST_F(PortBusTest, WideResultsAreTruncatedToTheAccessWidth) {
  class Wide final : public PortDevice {
   public:
    std::uint32_t PortRead(std::uint16_t, unsigned) override { return 0xCAFEBABE; }
    void PortWrite(std::uint16_t, unsigned, std::uint32_t) override {}
  } wide;
  ASSERT_TRUE(MapPorts(0x100, 8, &wide));
  EXPECT_EQ(PortInByte(0x100), 0xBEu);
  EXPECT_EQ(PortInWord(0x100), 0xBABEu);
}

TEST_F(PortBusTest, MapRefusesEmptyOversizedAndNullRanges) {
  MemoryDevice device(0x20);
  EXPECT_FALSE(MapPorts(0x300, 0, &device));
  EXPECT_FALSE(MapPorts(0x300, 0x10, nullptr));
  EXPECT_FALSE(MapPorts(0xFFF0, 0x11, &device));
  EXPECT_FALSE(MapPorts(0x0000, 0x10001, &device));
  EXPECT_TRUE(MapPorts(0xFFF0, 0x10, &device));  // up to and including 0xFFFF
  EXPECT_TRUE(UnmapPorts(0xFFF0));
}

TEST_F(PortBusTest, OverlappingRangesAreRefused) {
  MemoryDevice first(0x40);
  MemoryDevice second(0x100);
  ASSERT_TRUE(MapPorts(0x300, 0x40, &first));
  EXPECT_FALSE(MapPorts(0x300, 0x40, &second));  // the same range
  EXPECT_FALSE(MapPorts(0x310, 0x08, &second));  // inside
  EXPECT_FALSE(MapPorts(0x2F0, 0x11, &second));  // over the start
  EXPECT_FALSE(MapPorts(0x33F, 0x10, &second));  // over the end
  EXPECT_FALSE(MapPorts(0x200, 0x200, &second)); // around it
  EXPECT_TRUE(MapPorts(0x340, 0x40, &second));   // adjacent above
  EXPECT_TRUE(MapPorts(0x2C0, 0x40, &second));   // adjacent below, the same device again
  PortOutByte(0x33F, 0x11);
  EXPECT_EQ(first.bytes[0x3F], 0x11);
  EXPECT_EQ(second.bytes[0x3F], 0x00);
}

TEST_F(PortBusTest, AccessOverTheRangeEndIsSplitIntoBytes) {
  MemoryDevice device(4);
  device.bytes = {0x11, 0x22, 0x33, 0x44};
  ASSERT_TRUE(MapPorts(0x300, 4, &device));
  EXPECT_EQ(PortInWord(0x303), 0xFF44u);
  EXPECT_EQ(PortInDword(0x302), 0xFFFF4433u);
  EXPECT_EQ(PortInDword(0x2FE), 0x2211FFFFu);  // over the start
  const std::vector<Access> expected{{false, 3, 1, 0x44}, {false, 2, 1, 0x33}, {false, 3, 1, 0x44},
                                     {false, 0, 1, 0x11}, {false, 1, 1, 0x22}};
  EXPECT_EQ(device.trace, expected);
  device.trace.clear();
  PortOutDword(0x302, 0xA4A3A2A1);
  EXPECT_EQ(device.bytes, (std::vector<std::uint8_t>{0x11, 0x22, 0xA1, 0xA2}));
  const std::vector<Access> writes{{true, 2, 1, 0xA1}, {true, 3, 1, 0xA2}};
  EXPECT_EQ(device.trace, writes);
}

TEST_F(PortBusTest, AccessAcrossTwoDevicesAssemblesLittleEndian) {
  MemoryDevice low(4);
  MemoryDevice high(4);
  low.bytes = {0x00, 0x00, 0x01, 0x02};
  high.bytes = {0x03, 0x04, 0x00, 0x00};
  ASSERT_TRUE(MapPorts(0x100, 4, &low));
  ASSERT_TRUE(MapPorts(0x104, 4, &high));
  EXPECT_EQ(PortInDword(0x102), 0x04030201u);
  EXPECT_EQ(PortInWord(0x103), 0x0302u);
  PortOutDword(0x102, 0x88776655);
  EXPECT_EQ(low.bytes, (std::vector<std::uint8_t>{0x00, 0x00, 0x55, 0x66}));
  EXPECT_EQ(high.bytes, (std::vector<std::uint8_t>{0x77, 0x88, 0x00, 0x00}));
  PortOutWord(0x103, 0xBBAA);
  EXPECT_EQ(low.bytes[3], 0xAA);
  EXPECT_EQ(high.bytes[0], 0xBB);
}

TEST_F(PortBusTest, WideAccessAtTheTopOfTheSpaceWrapsToPortZero) {
  MemoryDevice top(1);
  MemoryDevice bottom(1);
  top.bytes = {0x12};
  bottom.bytes = {0x34};
  ASSERT_TRUE(MapPorts(0xFFFF, 1, &top));
  ASSERT_TRUE(MapPorts(0x0000, 1, &bottom));
  EXPECT_EQ(PortInWord(0xFFFF), 0x3412u);
  EXPECT_EQ(PortInDword(0xFFFF), 0xFFFF3412u);
}

TEST_F(PortBusTest, UnmapRemovesOnlyTheRangeStartingAtBase) {
  MemoryDevice device(0x40);
  ASSERT_TRUE(MapPorts(0x300, 0x40, &device));
  EXPECT_FALSE(UnmapPorts(0x310));  // inside, but not the base
  EXPECT_FALSE(UnmapPorts(0x200));
  PortOutByte(0x300, 0x5A);
  EXPECT_TRUE(UnmapPorts(0x300));
  EXPECT_FALSE(UnmapPorts(0x300));
  EXPECT_EQ(PortInByte(0x300), 0xFFu);
  PortOutByte(0x300, 0x00);
  EXPECT_EQ(device.bytes[0], 0x5A);  // the write after unmapping went nowhere
  EXPECT_TRUE(MapPorts(0x300, 0x40, &device));
  EXPECT_EQ(PortInByte(0x300), 0x5Au);
  UnmapAllPorts();
  EXPECT_EQ(PortInByte(0x300), 0xFFu);
}

// A device whose read blocks until the test releases it.
class BlockingDevice final : public PortDevice {
 public:
  BlockingDevice() : release(CreateEvent(true, false)) {}
  ~BlockingDevice() override { CloseHandle(release); }

  std::uint32_t PortRead(std::uint16_t, unsigned) override {
    inside = true;
    WaitForSingleObject(release, 5000);
    Sleep(5);
    inside = false;
    return 0x42;
  }
  void PortWrite(std::uint16_t, unsigned, std::uint32_t) override {}

  const Handle release;
  std::atomic<bool> inside{false};
};

TEST_F(PortBusTest, UnmapWaitsForTheHandlerInProgress) {
  BlockingDevice device;
  ASSERT_TRUE(MapPorts(0x200, 8, &device));
  std::atomic<std::uint32_t> read{0};
  std::thread reader([&] { read = PortInByte(0x200); });
  while (!device.inside.load()) Sleep(1);

  std::atomic<bool> unmapped{false};
  std::atomic<bool> handlerWasDone{false};
  std::thread unmapper([&] {
    EXPECT_TRUE(UnmapPorts(0x200));
    handlerWasDone = !device.inside.load();
    unmapped = true;
  });
  Sleep(30);
  EXPECT_FALSE(unmapped.load());
  EXPECT_TRUE(SetEvent(device.release));
  unmapper.join();
  reader.join();
  EXPECT_TRUE(handlerWasDone.load());
  EXPECT_EQ(read.load(), 0x42u);
  EXPECT_EQ(PortInByte(0x200), 0xFFu);
}

TEST_F(PortBusTest, ConcurrentAccessesWhileMappingChanges) {
  class Constant final : public PortDevice {
   public:
    std::uint32_t PortRead(std::uint16_t, unsigned) override { return 0xA5; }
    void PortWrite(std::uint16_t, unsigned, std::uint32_t) override {}
  } moving, fixed;
  ASSERT_TRUE(MapPorts(0x100, 0x10, &fixed));
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  std::atomic<int> reads{0};
  std::thread reader([&] {
    while (!stop.load()) {
      const std::uint16_t v = PortInWord(0x3FF);  // half floating, half the moving device
      if (v != 0xFFFF && v != 0xA5FF) ++bad;
      if (PortInByte(0x10F) != 0xA5) ++bad;
      ++reads;
    }
  });
  // Change the mapping until the reader has seen plenty of it (bounded).
  const std::uint64_t deadline = NowNs() + 2'000'000'000;
  for (int i = 0; (i < 300 || reads.load() < 1000) && NowNs() < deadline; ++i) {
    ASSERT_TRUE(MapPorts(0x400, 4, &moving));
    ASSERT_TRUE(UnmapPorts(0x400));
    if (i % 16 == 0) Sleep(0);
  }
  stop = true;
  reader.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_GE(reads.load(), 1000);
}

}  // namespace
}  // namespace qio::platform
