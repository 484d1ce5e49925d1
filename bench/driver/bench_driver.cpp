// The driver's request path and its interrupt path on the hosted target:
//   BM_ReadDiPort        IOCTL_DIO_READ_DI_PORTS for one port, from the
//                        harness through the device manager and the
//                        dispatcher to the board model and back (ns/request);
//   BM_DiEdgeToWakeUp    a rising DI edge on the board model until a thread
//                        waiting on the channel's named event runs (p50, p99);
//   BM_OneWayWakeUp      what the machine itself needs to wake a waiting
//                        thread: a stamp, a condition variable notified, the
//                        woken thread's stamp (p50, p99);
//   BM_TwoHopWakeUp      the same through two threads in a row: the shape
//                        of the interrupt path, which takes two hand-offs
//                        (the interrupt thread, then the waiter), and so its
//                        floor on this machine.
// Both latency benchmarks wait for each wake-up in a blocking wait, never by
// spinning, and leave a millisecond between edges, so that every wake-up
// finds its thread asleep.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "qio/platform/clock.h"
#include "qio/platform/kernel.h"
#include "qio5162/target.h"

namespace {

namespace pf = qio::platform;

constexpr std::uint32_t kReadDiPorts = 0x9C407830;
constexpr std::uint32_t kEventEnable = 0x9C4024C4;
constexpr std::uint32_t kPortWriteByte = 0x9C40A440;

void Percentiles(benchmark::State& state, std::vector<double>& latenciesUs);

QioTarget* target = nullptr;
QioStream* stream = nullptr;
QioSimBoard* board = nullptr;

void BM_ReadDiPort(benchmark::State& state) {
  const std::uint32_t request[2] = {1, 1};  // port B, one port
  std::uint8_t value = 0;
  std::uint32_t returned = 0;
  for (auto _ : state) {
    const int ok = qio_target_device_ioctl(stream, kReadDiPorts, request, sizeof request, &value, 1, &returned,
                                           nullptr);
    benchmark::DoNotOptimize(ok);
    benchmark::DoNotOptimize(value);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReadDiPort);

// The waiting side: stamps the platform clock as soon as it is woken.
struct Waiter {
  pf::Handle event = pf::kNullHandle;
  pf::Handle woken = pf::kNullHandle;  // tells the stimulus side a wake-up happened
  std::atomic<std::uint64_t> wokeAtNs{0};
  std::atomic<bool> stop{false};
};

std::uint32_t WaiterThread(void* argument) {
  auto& waiter = *static_cast<Waiter*>(argument);
  while (!waiter.stop.load()) {
    if (pf::WaitForSingleObject(waiter.event, 200) != pf::kWaitObject0) continue;
    waiter.wokeAtNs.store(pf::NowNs());
    pf::SetEvent(waiter.woken);
  }
  return 0;
}

void BM_DiEdgeToWakeUp(benchmark::State& state) {
  const std::uint16_t enable[8] = {1, 0, 1, 0, 0, 0, 0, 0};  // source 0 (DI line A0), every interrupt
  std::uint32_t returned = 0;
  if (!qio_target_device_ioctl(stream, kEventEnable, enable, sizeof enable, nullptr, 0, &returned, nullptr)) {
    state.SkipWithError("event enable failed");
    return;
  }
  Waiter waiter;
  waiter.event = pf::OpenEvent("ZQS_EVT_DI_INTERRUPT0_000");
  waiter.woken = pf::CreateEvent(false, false);
  const pf::Handle thread = pf::CreateThread(WaiterThread, &waiter);
  std::vector<double> latenciesUs;
  std::int64_t lost = 0;
  for (auto _ : state) {
    const std::uint64_t edgeNs = pf::NowNs();
    qio_sim_set_di(board, 0, 0x01);
    if (pf::WaitForSingleObject(waiter.woken, 1000) == pf::kWaitObject0) {
      latenciesUs.push_back(static_cast<double>(waiter.wokeAtNs.load() - edgeNs) / 1000.0);
    } else {
      ++lost;
      // Clear whatever is left pending on the board.
      const std::uint8_t clear[5] = {0x24, 0, 0, 0, 0};
      qio_target_device_ioctl(stream, kPortWriteByte, clear, sizeof clear, nullptr, 0, &returned, nullptr);
    }
    state.PauseTiming();
    qio_sim_set_di(board, 0, 0x00);
    pf::Sleep(1);  // the thread acknowledges the interrupt before the next edge
    state.ResumeTiming();
  }
  waiter.stop.store(true);
  pf::WaitForSingleObject(thread, 2000);
  pf::CloseHandle(thread);
  pf::CloseHandle(waiter.woken);
  pf::CloseHandle(waiter.event);

  Percentiles(state, latenciesUs);
  state.counters["lost"] = static_cast<double>(lost);
}
BENCHMARK(BM_DiEdgeToWakeUp)->Iterations(2000)->Unit(benchmark::kMicrosecond);

void Percentiles(benchmark::State& state, std::vector<double>& latenciesUs) {
  std::sort(latenciesUs.begin(), latenciesUs.end());
  if (latenciesUs.empty()) return;
  auto at = [&](double q) { return latenciesUs[static_cast<std::size_t>(q * static_cast<double>(latenciesUs.size() - 1))]; };
  state.counters["p50_us"] = at(0.50);
  state.counters["p99_us"] = at(0.99);
  state.counters["max_us"] = latenciesUs.back();
}

// The machine's own hand-offs, without the platform: the stimulus thread
// notifies the first of `hops` threads, each wakes the next through a mutex
// and a condition variable (what the platform's waits are built on), the
// last stamps the clock and tells the stimulus thread. One hop is the
// one-way wake-up; two hops are the shape of the interrupt path (the
// interrupt thread, then the waiter), so that the interrupt path is compared
// with what the machine needs for the same two hand-offs in the same run.
class HandOffChain {
 public:
  explicit HandOffChain(int hops) : stages_(static_cast<std::size_t>(hops) + 1) {
    for (int i = 0; i < hops; ++i) threads_.emplace_back([this, i] { Relay(static_cast<std::size_t>(i)); });
  }
  ~HandOffChain() {
    Pass(0, kStop);
    for (std::thread& thread : threads_) thread.join();
  }
  HandOffChain(const HandOffChain&) = delete;
  HandOffChain& operator=(const HandOffChain&) = delete;

  // One round through the chain: the latency from the first notification to
  // the last thread's stamp, in microseconds.
  double Round() {
    const std::uint64_t round = ++rounds_;
    const std::uint64_t sentNs = pf::NowNs();
    Pass(0, round);
    Stage& last = stages_.back();
    std::unique_lock lock(last.mutex);
    last.changed.wait(lock, [&] { return last.round == round; });
    return static_cast<double>(wokeNs_.load() - sentNs) / 1000.0;
  }

 private:
  static constexpr std::uint64_t kStop = ~std::uint64_t{0};
  struct Stage {
    std::mutex mutex;
    std::condition_variable changed;
    std::uint64_t round = 0;
  };

  void Pass(std::size_t stage, std::uint64_t round) {
    {
      std::scoped_lock lock(stages_[stage].mutex);
      stages_[stage].round = round;
    }
    stages_[stage].changed.notify_one();
  }

  void Relay(std::size_t stage) {
    std::uint64_t seen = 0;
    while (seen != kStop) {
      {
        std::unique_lock lock(stages_[stage].mutex);
        stages_[stage].changed.wait(lock, [&] { return stages_[stage].round != seen; });
        seen = stages_[stage].round;
      }
      if (stage + 2 == stages_.size() && seen != kStop) wokeNs_.store(pf::NowNs());
      Pass(stage + 1, seen);
    }
  }

  std::vector<Stage> stages_;
  std::vector<std::thread> threads_;
  std::uint64_t rounds_ = 0;
  std::atomic<std::uint64_t> wokeNs_{0};
};

void MachineHandOffs(benchmark::State& state, int hops) {
  HandOffChain chain(hops);
  std::vector<double> latenciesUs;
  for (auto _ : state) {
    latenciesUs.push_back(chain.Round());
    state.PauseTiming();
    pf::Sleep(1);  // as between the DI edges: every thread is asleep again
    state.ResumeTiming();
  }
  Percentiles(state, latenciesUs);
}

void BM_OneWayWakeUp(benchmark::State& state) { MachineHandOffs(state, 1); }
BENCHMARK(BM_OneWayWakeUp)->Iterations(2000)->Unit(benchmark::kMicrosecond);

void BM_TwoHopWakeUp(benchmark::State& state) { MachineHandOffs(state, 2); }
BENCHMARK(BM_TwoHopWakeUp)->Iterations(2000)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (qio_target_boot(nullptr, &target) != QIO_TARGET_OK || qio_target_device_open(target, "Q621:", &stream) != 0 ||
      (board = qio_target_board(target, 0x300)) == nullptr) {
    std::fprintf(stderr, "hosted target: %s\n", qio_target_last_message());
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  qio_target_device_close(stream);
  qio_target_shutdown(target);
  return 0;
}
