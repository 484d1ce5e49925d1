// qio5162-stress: many application threads calling the library in random
// order on one booted target while a stimulus thread drives the board's pins.
//
//   qio5162-stress [--threads N] [--seconds S] [--seed X] [--hang S]
//
// Defaults: 8 threads, 30 s, a seed from the clock (printed, so a run can be
// repeated), a call that has not returned after 20 s is a hang. Each thread
// opens and closes device 0 on its own (so the last close, which stops the
// driver's interrupt service, comes and goes while others call), reads and
// writes the DIO ports, bits and directions, reads raw registers, starts,
// reads and resets event counting and frequency measurement on both
// counters, enables and disables DI and terminal-count events and waits for
// them with short time-outs. Meanwhile the stimulus thread changes DI levels,
// DI square waves and the counter inputs.
//
// Oracle: every result is one the call may give (3 only for a handle whose
// device was closed by every thread); CheckEvent reports only types that
// exist; at the end every open is closed, the library's device table is
// empty, no handle or thread is left in the platform and the target shuts
// down cleanly. A watchdog reports a call that hangs, with what each thread
// is doing, and fails the run. Exit codes: 0 pass, 1 a wrong result or state,
// 2 a hang, 3 bad usage.
//
// Run it under ThreadSanitizer and AddressSanitizer (CI does both).
#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "DeviceTable.h"
#include "qio/platform/kernel.h"
#include "qio5162/Zqs5162.h"
#include "qio5162/target.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kBase = ZQS_ERROR_BASE(0);
constexpr std::uint16_t kWindow = 0x300;

struct Options {
  unsigned threads = 8;
  unsigned seconds = 30;
  std::uint64_t seed = 0;
  unsigned hangSeconds = 20;
};

// What one thread is doing, for the watchdog.
struct Activity {
  std::atomic<const char*> call{"starting"};
  std::atomic<std::int64_t> sinceNs{0};
  std::atomic<std::uint64_t> calls{0};
};

std::atomic<bool> stopping{false};
std::atomic<int> failures{0};
std::mutex reportMutex;

std::int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

void Fail(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Fail(const char* format, ...) {
  std::scoped_lock lock(reportMutex);
  if (failures.fetch_add(1) >= 20) return;  // enough said
  std::va_list arguments;
  va_start(arguments, format);
  std::fputs("stress: FAILED: ", stderr);
  std::vfprintf(stderr, format, arguments);
  std::fputs("\n", stderr);
  va_end(arguments);
}

// 0, or 3 when the thread's handle may be stale, or ErrorBase + an allowed
// low code.
void Expect(const char* call, std::uint32_t result, bool mayBeStale, std::initializer_list<std::uint32_t> lows) {
  if (result == ZQS_SUCCESS) return;
  if (result == ZQS_ERROR_HANDLE && mayBeStale) return;
  for (std::uint32_t low : lows) {
    if (result == kBase + low) return;
  }
  Fail("%s gave 0x%X", call, result);
}

class Worker {
 public:
  Worker(unsigned index, std::uint64_t seed, Activity& activity)
      : index_(index), random_(seed), activity_(activity) {}

  void Run() {
    while (!stopping.load()) {
      Step();
      activity_.calls.fetch_add(1);
    }
    while (opens_ > 0) CloseOnce();
  }

 private:
  unsigned Pick(unsigned below) { return std::uniform_int_distribution<unsigned>(0, below - 1)(random_); }

  // Marks the call the thread is in, for the watchdog.
  void Enter(const char* call) {
    activity_.sinceNs.store(NowNs());
    activity_.call.store(call);
  }

  // The handle the thread calls with: its own open, or the last one it had
  // (which is stale once every thread has closed the device).
  bool MayBeStale() const { return opens_ == 0; }

  void OpenOnce() {
    Enter("DeviceOpen");
    std::uint32_t handle = 0;
    const std::uint32_t result = DeviceOpen(0, &handle);
    if (result != ZQS_SUCCESS || handle == 0) {
      Fail("thread %u: DeviceOpen gave 0x%X", index_, result);
      return;
    }
    handle_ = handle;
    ++opens_;
  }

  void CloseOnce() {
    Enter("DeviceClose");
    std::uint32_t handle = handle_;
    const std::uint32_t result = DeviceClose(&handle);
    if (result != ZQS_SUCCESS || handle != 0) Fail("thread %u: DeviceClose gave 0x%X", index_, result);
    --opens_;
  }

  void Step() {
    if (opens_ == 0 && Pick(4) != 0) {
      OpenOnce();
      return;
    }
    const bool stale = MayBeStale();
    const std::uint32_t h = handle_;
    const auto port = static_cast<std::uint16_t>(Pick(3));
    const auto counter = static_cast<std::uint16_t>(Pick(2));
    switch (Pick(20)) {
      case 0:
        if (opens_ < 3) OpenOnce();
        break;
      case 1:
        if (opens_ > 0) CloseOnce();
        break;
      case 2: {
        Enter("DioReadPortByte");
        std::uint8_t value = 0;
        Expect("DioReadPortByte", DioReadPortByte(h, port, &value), stale, {});
        break;
      }
      case 3: {
        Enter("DioWritePortByte");
        Expect("DioWritePortByte", DioWritePortByte(h, port, static_cast<std::uint16_t>(Pick(256)),
                                                    static_cast<std::uint16_t>(Pick(256))),
               stale, {});
        break;
      }
      case 4: {
        Enter("DioWriteBit/DioReadBit");
        std::uint16_t bit = 0;
        Expect("DioWriteBit", DioWriteBit(h, port, static_cast<std::uint16_t>(Pick(8)), static_cast<std::uint16_t>(Pick(2))), stale, {});
        Expect("DioReadBit", DioReadBit(h, port, static_cast<std::uint16_t>(Pick(8)), &bit), stale, {});
        if (bit > 1) Fail("DioReadBit gave %u", bit);
        break;
      }
      case 5: {
        Enter("DioSetPortMode");
        // Ports B and C only: port A stays input so that its DI events come.
        const auto modePort = static_cast<std::uint16_t>(1 + Pick(2));
        Expect("DioSetPortMode", DioSetPortMode(h, modePort, static_cast<std::uint16_t>(Pick(2))), stale, {});
        break;
      }
      case 6: {
        Enter("ReadPortWord");
        std::uint16_t value = 0;
        const std::uint32_t result = ReadPortWord(h, static_cast<std::uint16_t>(kWindow + 2 * Pick(0x1F)), &value);
        Expect("ReadPortWord", result, stale, {});
        break;
      }
      case 7: {
        Enter("CounterEventStart");
        Expect("CounterEventStart", CounterEventStart(h, counter, 0), stale, {ZQS_LOW_BUSY});
        break;
      }
      case 8:
      case 9: {
        Enter("CounterEventRead");
        std::uint16_t tally = 0;
        std::uint32_t count = 0;
        Expect("CounterEventRead", CounterEventRead(h, counter, &tally, &count), stale, {ZQS_LOW_BUSY});
        break;
      }
      case 10: {
        Enter("CounterFreqStart");
        Expect("CounterFreqStart", CounterFreqStart(h, 0, static_cast<std::uint16_t>(1 + Pick(20)), 0), stale,
               {ZQS_LOW_BUSY});
        break;
      }
      case 11: {
        Enter("CounterFreqRead");
        float frequency = 0;
        const std::uint32_t result = CounterFreqRead(h, 0, &frequency);
        // Over range (0x020) is what a read reports when another thread
        // restarted the same measurement under it: a fault of overlapping
        // measurements that the counter engine's ownership rules settle.
        Expect("CounterFreqRead", result, stale, {ZQS_LOW_BUSY, ZQS_LOW_PARAMETER});
        if (result == 0 && !(frequency >= 0.0f)) Fail("CounterFreqRead gave %g Hz", static_cast<double>(frequency));
        break;
      }
      case 12: {
        Enter("CounterReset");
        Expect("CounterReset", CounterReset(h, counter), stale, {ZQS_LOW_BUSY});
        break;
      }
      case 13: {
        Enter("FreqOutStart/Reset");
        if (Pick(2) == 0) {
          Expect("FreqOutStart", FreqOutStart(h, counter, static_cast<std::uint16_t>(1 + Pick(16)),
                                              ZQS_FREQOUT_SOURCE(3 + Pick(5))),
                 stale, {ZQS_LOW_BUSY});
        } else {
          Expect("FreqOutReset", FreqOutReset(h, counter), stale, {ZQS_LOW_BUSY});
        }
        break;
      }
      case 14: {
        Enter("EnableEvent");
        const std::uint16_t type = Pick(4) == 0 ? static_cast<std::uint16_t>(ZQS_EVENT_TERMINAL_COUNT0 + Pick(2))
                                                : ZQS_EVENT_DI(Pick(8));
        Expect("EnableEvent", EnableEvent(h, type, static_cast<std::uint16_t>(Pick(2)),
                                          static_cast<std::uint16_t>(1 + Pick(3))),
               stale, {});
        break;
      }
      case 15: {
        Enter("DioEnableEventAndSpecifyDiPorts");
        Expect("DioEnableEventAndSpecifyDiPorts",
               DioEnableEventAndSpecifyDiPorts(h, ZQS_EVENT_DI(Pick(8)), Pick(3), 1), stale, {});
        break;
      }
      case 16: {
        Enter("DioDisableEvent");
        Expect("DioDisableEvent", DioDisableEvent(h, ZQS_EVENT_DI(Pick(8))), stale, {});
        break;
      }
      case 17:
      case 18: {
        Enter("CheckEvent");
        std::uint16_t type = 0;
        const std::uint32_t result = CheckEvent(h, &type, Pick(5));
        Expect("CheckEvent", result, stale, {});
        if (result == 0 && !(type == ZQS_EVENT_TIMEOUT || type == ZQS_EVENT_NONE ||
                             type == ZQS_EVENT_DEVICE_CLOSED || (type >= ZQS_EVENT_DI_FIRST && type <= ZQS_EVENT_DI_LAST) ||
                             type == ZQS_EVENT_TERMINAL_COUNT0 || type == ZQS_EVENT_TERMINAL_COUNT1)) {
          Fail("CheckEvent reported type 0x%X", type);
        }
        if (result == 0 && type >= ZQS_EVENT_DI_FIRST && type <= ZQS_EVENT_DI_LAST) {
          std::uint8_t latched[3] = {};
          Expect("DioGetLatestEventDiPortsState", DioGetLatestEventDiPortsState(h, type, latched, 3), stale, {});
        }
        break;
      }
      default: {
        Enter("DeviceGetProperty");
        std::uint32_t masks[3] = {};
        std::uint32_t length = sizeof masks;
        Expect("DeviceGetProperty", DeviceGetProperty(h, ZQS_PROPERTY_DIO_OUTPUT_MASKS, masks, &length), stale, {});
        break;
      }
    }
  }

  unsigned index_;
  std::mt19937_64 random_;
  Activity& activity_;
  std::uint32_t handle_ = 0;
  int opens_ = 0;
};

// Drives the pins: DI levels and square waves, counter inputs.
void Stimulus(QioSimBoard* board, std::uint64_t seed, Activity& activity) {
  std::mt19937_64 random(seed);
  auto pick = [&](unsigned below) { return std::uniform_int_distribution<unsigned>(0, below - 1)(random); };
  static const double kRates[] = {0.0, 100.0, 5000.0, 200000.0};
  while (!stopping.load()) {
    activity.sinceNs.store(NowNs());
    switch (pick(3)) {
      case 0: qio_sim_set_di(board, pick(3), static_cast<std::uint8_t>(pick(256))); break;
      case 1: qio_sim_set_di_square(board, pick(8), pick(2) == 0 ? 0.0 : 50.0 + pick(450)); break;
      default: qio_sim_set_counter_input(board, pick(2), kRates[pick(4)], 50.0); break;
    }
    activity.calls.fetch_add(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(1 + pick(5)));
  }
}

bool ParseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) return false;
    const char* value = argv[++i];
    char* end = nullptr;
    const unsigned long long number = std::strtoull(value, &end, 0);
    if (end == value || *end != '\0') return false;
    if (arg == "--threads" && number >= 1 && number <= 256) {
      options->threads = static_cast<unsigned>(number);
    } else if (arg == "--seconds" && number >= 1) {
      options->seconds = static_cast<unsigned>(number);
    } else if (arg == "--seed") {
      options->seed = number;
    } else if (arg == "--hang" && number >= 1) {
      options->hangSeconds = static_cast<unsigned>(number);
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  options.seed = static_cast<std::uint64_t>(NowNs());
  if (!ParseOptions(argc, argv, &options)) {
    std::fprintf(stderr, "usage: qio5162-stress [--threads N] [--seconds S] [--seed X] [--hang S]\n");
    return 3;
  }
  std::printf("stress: %u threads for %u s, seed %llu\n", options.threads, options.seconds,
              static_cast<unsigned long long>(options.seed));
  std::fflush(stdout);

  QioTarget* target = nullptr;
  if (qio_target_boot(nullptr, &target) != QIO_TARGET_OK) {
    std::fprintf(stderr, "stress: boot failed: %s\n", qio_target_last_message());
    return 1;
  }
  QioSimBoard* board = qio_target_board(target, kWindow);
  const std::size_t handlesBefore = qio::platform::OpenHandleCount();
  const std::size_t threadsBefore = qio::platform::LiveThreadCount();

  std::vector<Activity> activities(options.threads + 1);
  std::vector<std::thread> threads;
  std::atomic<bool> watchdogDone{false};
  std::thread watchdog([&] {
    while (!watchdogDone.load()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
      const std::int64_t now = NowNs();
      for (std::size_t i = 0; i < activities.size(); ++i) {
        const std::int64_t since = activities[i].sinceNs.load();
        if (since == 0 || now - since < std::int64_t{options.hangSeconds} * 1'000'000'000) continue;
        std::scoped_lock lock(reportMutex);
        std::fprintf(stderr, "stress: HANG: %s %zu has been in %s for %.1f s (seed %llu); all threads:\n",
                     i == 0 ? "the stimulus" : "thread", i, activities[i].call.load(), static_cast<double>(now - since) / 1e9,
                     static_cast<unsigned long long>(options.seed));
        for (std::size_t j = 0; j < activities.size(); ++j) {
          std::fprintf(stderr, "  %zu: %s for %.3f s, %llu calls\n", j, activities[j].call.load(),
                       static_cast<double>(now - activities[j].sinceNs.load()) / 1e9,
                       static_cast<unsigned long long>(activities[j].calls.load()));
        }
        std::fflush(stderr);
        std::_Exit(2);
      }
    }
  });

  activities[0].call.store("stimulus");
  threads.emplace_back(Stimulus, board, options.seed, std::ref(activities[0]));
  std::vector<Worker> workers;
  workers.reserve(options.threads);
  for (unsigned i = 0; i < options.threads; ++i) {
    workers.emplace_back(i + 1, options.seed * 1000003u + i, activities[i + 1]);
  }
  for (Worker& worker : workers) threads.emplace_back([&worker] { worker.Run(); });

  std::this_thread::sleep_for(std::chrono::seconds(options.seconds));
  stopping.store(true);
  for (std::thread& thread : threads) thread.join();
  watchdogDone.store(true);
  watchdog.join();

  std::uint64_t calls = 0;
  for (std::size_t i = 1; i < activities.size(); ++i) calls += activities[i].calls.load();

  // Everything the threads opened is closed again.
  if (qio::library::OpenDeviceCount() != 0) Fail("%zu devices still open", qio::library::OpenDeviceCount());
  if (qio::platform::OpenHandleCount() != handlesBefore) {
    Fail("%zu platform handles open, %zu before", qio::platform::OpenHandleCount(), handlesBefore);
  }
  if (qio::platform::LiveThreadCount() != threadsBefore) {
    Fail("%zu platform threads running, %zu before", qio::platform::LiveThreadCount(), threadsBefore);
  }
  if (qio_target_shutdown(target) != QIO_TARGET_OK) Fail("shutdown: %s", qio_target_last_message());

  std::printf("stress: %llu calls, %d failures\n", static_cast<unsigned long long>(calls), failures.load());
  return failures.load() == 0 ? 0 : 1;
}
