// The driver module's Init and first open with each allocation, event
// creation, thread creation and registry write failing in turn, called as the
// device manager calls them: a failed Init leaves the registry, the handles
// and the threads as they were; an Init that succeeds despite a fault has
// registered the board whole or not at all, and has all 26 named events or
// none; a refused first open leaves no thread or bound interrupt behind, and
// the next open works whole.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "fault_sweep.h"
#include "qio/platform/errors.h"
#include "qio/platform/stream_driver.h"
#include "qio/protocol/ioctl.h"
#include "qio5162/target.h"

namespace qio::test {
namespace {

using platform::FaultKind;

constexpr const char* kActiveKey = "Drivers\\Active\\07";
constexpr const char* kDriverKeys = R"(REGEDIT4
[HKEY_LOCAL_MACHINE\Drivers\BuiltIn\ZQS5162S0]
"Prefix"="Q62"
"Dll"="Zqs5162s.dll"
"DeviceIndex"=dword:0
"IoBase"=dword:300
"IoLen"=dword:40
"Irq"=dword:5
"TimerClock"=dword:14
"DigPortCfg"=hex:01,00,03
[HKEY_LOCAL_MACHINE\Drivers\Active\07]
"Name"="Q627:"
"Key"="Drivers\\BuiltIn\\ZQS5162S0"
)";

// How many of the board's 26 named events exist.
int NamedEventsPresent() {
  int present = 0;
  for (unsigned source = 0; source < 26; ++source) {
    char name[64];
    if (source < 24) {
      std::snprintf(name, sizeof name, "ZQS_EVT_DI_INTERRUPT%u_000", source);
    } else {
      std::snprintf(name, sizeof name, "ZQS_EVT_TERMINATE_CNT%u_000", source - 24);
    }
    const platform::Handle event = platform::OpenEvent(name);
    if (event != platform::kNullHandle) {
      ++present;
      platform::CloseHandle(event);
    }
  }
  return present;
}

// The driver module loaded by hand on a bare target with one board: no
// device manager load, only the keys the device manager would have written.
class DriverFaultTest : public ::testing::TestWithParam<FaultKind> {
 protected:
  void SetUp() override {
    ASSERT_EQ(qio_target_boot_ex(nullptr, QIO_TARGET_BARE | QIO_TARGET_NO_BOARDS, &target_), QIO_TARGET_OK)
        << qio_target_last_message();
    QioSimBoard* board = nullptr;
    ASSERT_EQ(qio_target_plug_board(target_, 0x300, 5, &board), QIO_TARGET_OK) << qio_target_last_message();
    ASSERT_TRUE(platform::RegImportText(kDriverKeys, nullptr));
    const std::string path = platform::ResolveModule("Zqs5162s.dll");
    ASSERT_FALSE(path.empty());
    module_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module_, nullptr) << dlerror();
    init_ = reinterpret_cast<QioStreamInit>(dlsym(module_, "Q62_Init"));
    deinit_ = reinterpret_cast<QioStreamDeinit>(dlsym(module_, "Q62_Deinit"));
    open_ = reinterpret_cast<QioStreamOpen>(dlsym(module_, "Q62_Open"));
    close_ = reinterpret_cast<QioStreamClose>(dlsym(module_, "Q62_Close"));
    ioControl_ = reinterpret_cast<QioStreamIoControl>(dlsym(module_, "Q62_IOControl"));
    ASSERT_TRUE(init_ && deinit_ && open_ && close_ && ioControl_);
    before_ = CaptureState();
  }
  void TearDown() override {
    platform::DisarmFaults();
    if (module_ != nullptr) dlclose(module_);
    if (target_ != nullptr) {
      EXPECT_EQ(qio_target_shutdown(target_), QIO_TARGET_OK) << qio_target_last_message();
    }
  }

  // Removes what a registration wrote, so that the next Init is a first boot.
  static void ForgetRegistration() {
    platform::RegDeleteKey(platform::kLocalMachine, "SYSTEM\\CurrentControlSet\\Services\\ZQS5162S");
    platform::RegDeleteKey(platform::kLocalMachine, "SYSTEM\\CurrentControlSet\\Services\\ZQSDAQ");
  }

  // The registry after a clean Init.
  std::string RegisteredRegistry() {
    const std::uintptr_t ctx = init_(kActiveKey, nullptr);
    EXPECT_NE(ctx, 0u);
    std::string text = platform::RegExportText();
    EXPECT_EQ(deinit_(ctx), 1);
    ForgetRegistration();
    EXPECT_EQ(CaptureState(), before_);
    return text;
  }

  // A request that goes through the dispatcher to the board's registers.
  bool PropertyGetWorks(std::uintptr_t open) {
    const std::uint32_t id = 0;
    std::uint8_t codes[3] = {};
    std::uint32_t returned = 0;
    return ioControl_(open, protocol::IOCTL_PROPERTY_GET, reinterpret_cast<const std::uint8_t*>(&id), sizeof id,
                      codes, sizeof codes, &returned) == 1 &&
           returned == 3 && codes[0] == 1 && codes[2] == 3;
  }

  QioTarget* target_ = nullptr;
  void* module_ = nullptr;
  QioStreamInit init_ = nullptr;
  QioStreamDeinit deinit_ = nullptr;
  QioStreamOpen open_ = nullptr;
  QioStreamClose close_ = nullptr;
  QioStreamIoControl ioControl_ = nullptr;
  SystemState before_;
};

TEST_P(DriverFaultTest, InitEndsWholeOrLeavesNothing) {
  const FaultKind kind = GetParam();
  const std::string registered = RegisteredRegistry();
  int refused = 0;
  int withoutEvents = 0;
  int unregistered = 0;
  const std::uint64_t fired = SweepFaults(
      kind, [&] { return init_(kActiveKey, nullptr); },
      [&](std::uint64_t n, std::uintptr_t ctx, bool) {
        if (ctx == 0) {
          ++refused;
          EXPECT_EQ(CaptureState(), before_) << "step " << n;
          return;
        }
        const std::string registry = platform::RegExportText();
        EXPECT_TRUE(registry == registered || registry == before_.registry) << "step " << n << ":\n" << registry;
        if (registry == before_.registry) ++unregistered;
        const int events = NamedEventsPresent();
        EXPECT_TRUE(events == 0 || events == 26) << "step " << n << ": " << events << " named events";
        if (events == 0) ++withoutEvents;
        const std::uintptr_t open = open_(ctx, 0, 0);
        EXPECT_NE(open, 0u) << "step " << n;
        EXPECT_TRUE(PropertyGetWorks(open)) << "step " << n;
        EXPECT_EQ(close_(open), 1);
        EXPECT_EQ(deinit_(ctx), 1);
        ForgetRegistration();
        EXPECT_EQ(CaptureState(), before_) << "step " << n;
      });
  std::printf("%s: %llu runs with a fault; Init refused %d, ran without events %d, unregistered %d\n",
              platform::FaultKindName(kind), static_cast<unsigned long long>(fired), refused, withoutEvents,
              unregistered);
  switch (kind) {
    case FaultKind::Allocation: EXPECT_GT(refused, 0); break;
    // The counter engine's stop event, the interrupt event and the event
    // that settles the open/close cycle refuse Init; a named event makes the
    // board run without events, as documented.
    case FaultKind::EventCreation:
      EXPECT_EQ(fired, 29u);
      EXPECT_EQ(refused, 3);
      EXPECT_EQ(withoutEvents, 26);
      break;
    case FaultKind::ThreadCreation: EXPECT_EQ(fired, 0u); break;
    // Every registry write of a first registration, undone.
    case FaultKind::RegistryWrite:
      EXPECT_GT(fired, 15u);
      EXPECT_EQ(refused, 0);
      break;
  }
}

TEST_P(DriverFaultTest, ARefusedFirstOpenLeavesNoThreadAndTheNextOpenWorks) {
  const FaultKind kind = GetParam();
  const std::uintptr_t ctx = init_(kActiveKey, nullptr);
  ASSERT_NE(ctx, 0u);
  const SystemState initialised = CaptureState();
  int refused = 0;
  SweepFaults(
      kind,
      [&] {
        platform::SetLastError(0);
        const std::uintptr_t open = open_(ctx, 0, 0);
        return std::pair(open, platform::GetLastError());
      },
      [&](std::uint64_t n, std::pair<std::uintptr_t, std::uint32_t> outcome, bool) {
        auto [open, error] = outcome;
        if (open == 0) {
          ++refused;
          EXPECT_NE(error, 0u) << "step " << n;
        } else {
          EXPECT_EQ(platform::LiveThreadCount(), initialised.threads + 1) << "step " << n;  // interrupt service
          EXPECT_TRUE(PropertyGetWorks(open)) << "step " << n;
          EXPECT_EQ(close_(open), 1);
        }
        EXPECT_EQ(CaptureState(), initialised) << "step " << n;
      });
  if (kind == FaultKind::ThreadCreation) {
    EXPECT_EQ(refused, 1);
  }
  if (kind == FaultKind::RegistryWrite) {
    EXPECT_EQ(refused, 0);
  }
  // A clean open now starts the interrupt service: the line was left free.
  const std::uintptr_t open = open_(ctx, 0, 0);
  ASSERT_NE(open, 0u);
  EXPECT_EQ(platform::LiveThreadCount(), initialised.threads + 1);
  EXPECT_EQ(close_(open), 1);
  EXPECT_EQ(deinit_(ctx), 1);
}

INSTANTIATE_TEST_SUITE_P(EachKind, DriverFaultTest, ::testing::ValuesIn(kFaultKinds), FaultKindName);

}  // namespace
}  // namespace qio::test
