// Booting the hosted target with each allocation, event creation, thread
// creation and registry write failing in turn (the registry import, the
// boards, the device manager and the driver's Init): a boot that ran short of
// anything returns QIO_TARGET_E_RESOURCE and leaves no target, registry,
// handle, thread or loaded device behind; the next boot is whole.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>

#include "fault_sweep.h"
#include "qio/protocol/ioctl.h"
#include "qio5162/target.h"

namespace qio::test {
namespace {

using platform::FaultKind;

std::string BootReport(QioTarget* target) {
  char text[4096];
  EXPECT_EQ(qio_target_boot_report(target, text, sizeof text, nullptr), QIO_TARGET_OK);
  return text;
}

// The board answers through its stream device: the driver was loaded whole.
void ExpectBoardAnswers(QioTarget* target) {
  QioStream* stream = nullptr;
  ASSERT_EQ(qio_target_device_open(target, "Q621:", &stream), QIO_TARGET_OK) << qio_target_last_message();
  const std::uint32_t id = 0;
  std::uint8_t codes[3] = {0xEE, 0xEE, 0xEE};
  std::uint32_t returned = 0;
  EXPECT_EQ(qio_target_device_ioctl(stream, protocol::IOCTL_PROPERTY_GET, &id, sizeof id, codes, sizeof codes,
                                    &returned, nullptr),
            1);
  EXPECT_EQ(returned, 3u);
  EXPECT_EQ(codes[0], 0u);  // the shipped board: every port input
  EXPECT_EQ(qio_target_device_close(stream), QIO_TARGET_OK);
}

class BootFaultTest : public ::testing::TestWithParam<FaultKind> {
 protected:
  void TearDown() override {
    platform::DisarmFaults();
    if (QioTarget* target = qio_target_current()) qio_target_shutdown(target);
  }
};

TEST_P(BootFaultTest, ABootShortOfAnythingIsUndoneWhole) {
  const FaultKind kind = GetParam();
  const SystemState before = CaptureState();
  QioTarget* target = nullptr;
  ASSERT_EQ(qio_target_boot(nullptr, &target), QIO_TARGET_OK) << qio_target_last_message();
  const std::string registry = platform::RegExportText();
  const std::string report = BootReport(target);
  ASSERT_EQ(qio_target_shutdown(target), QIO_TARGET_OK);
  ASSERT_EQ(CaptureState(), before);

  const std::uint64_t calls = CountFaultCalls(kind, [&] { ASSERT_EQ(qio_target_boot(nullptr, &target), QIO_TARGET_OK); });
  ASSERT_EQ(qio_target_shutdown(target), QIO_TARGET_OK);

  const std::uint64_t fired = SweepFaults(
      kind,
      [&] {
        QioTarget* booted = reinterpret_cast<QioTarget*>(0x1);
        const int status = qio_target_boot(nullptr, &booted);
        return std::pair(status, booted);
      },
      [&](std::uint64_t n, std::pair<int, QioTarget*> outcome, bool hit) {
        auto [status, booted] = outcome;
        if (hit) {
          EXPECT_EQ(status, QIO_TARGET_E_RESOURCE) << "step " << n;
          EXPECT_EQ(booted, nullptr);
          EXPECT_EQ(qio_target_current(), nullptr);
          EXPECT_FALSE(platform::SystemBooted());
          EXPECT_NE(std::string(qio_target_last_message()).find("resource"), std::string::npos);
          EXPECT_EQ(CaptureState(), before) << "step " << n;
          return;
        }
        ASSERT_EQ(status, QIO_TARGET_OK) << qio_target_last_message();
        EXPECT_EQ(platform::RegExportText(), registry);
        EXPECT_EQ(BootReport(booted), report);
        ExpectBoardAnswers(booted);
        EXPECT_EQ(qio_target_shutdown(booted), QIO_TARGET_OK) << qio_target_last_message();
        EXPECT_EQ(CaptureState(), before);
      },
      StrideFor(calls, 1000));
  std::printf("%s: %llu calls in a boot, %llu boots with a fault\n", platform::FaultKindName(kind),
              static_cast<unsigned long long>(calls), static_cast<unsigned long long>(fired));
  switch (kind) {
    case FaultKind::Allocation: EXPECT_GT(fired, 100u); break;
    case FaultKind::EventCreation: EXPECT_EQ(fired, 29u); break;  // the driver's 3 + 26 named events
    case FaultKind::ThreadCreation: EXPECT_EQ(fired, 0u); break;   // no thread runs before a first open
    case FaultKind::RegistryWrite: EXPECT_GT(fired, 20u); break;   // active key and registration
  }
}

INSTANTIATE_TEST_SUITE_P(EachKind, BootFaultTest, ::testing::ValuesIn(kFaultKinds), FaultKindName);

}  // namespace
}  // namespace qio::test
