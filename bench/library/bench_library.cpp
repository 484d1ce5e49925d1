// Calls per second through the whole stack (library -> device manager ->
// Zqs5162s -> board model) beside the bare board-model access, and the
// wake-up latency of CheckEvent from a DI edge on the model.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "qio/platform/clock.h"
#include "qio/platform/kernel.h"
#include "qio5162/Zqs5162.h"
#include "qio5162/target.h"

namespace {

constexpr std::uint16_t kBase = 0x300;

// One booted target with device 0 open, for the length of a benchmark.
class OpenBoard {
 public:
  OpenBoard() {
    if (qio_target_boot(nullptr, &target_) != QIO_TARGET_OK) return;
    board_ = qio_target_board(target_, kBase);
    if (DeviceOpen(0, &handle_) != ZQS_SUCCESS) handle_ = 0;
  }
  ~OpenBoard() {
    if (handle_ != 0) DeviceClose(&handle_);
    if (target_ != nullptr) qio_target_shutdown(target_);
  }
  OpenBoard(const OpenBoard&) = delete;
  OpenBoard& operator=(const OpenBoard&) = delete;

  bool Ready() const { return handle_ != 0 && board_ != nullptr; }
  std::uint32_t Handle() const { return handle_; }
  QioTarget* Target() const { return target_; }
  QioSimBoard* Board() const { return board_; }

 private:
  QioTarget* target_ = nullptr;
  QioSimBoard* board_ = nullptr;
  std::uint32_t handle_ = 0;
};

void BM_BoardModelPortIn(benchmark::State& state) {
  OpenBoard b;
  if (!b.Ready()) return state.SkipWithError("no target");
  for (auto _ : state) benchmark::DoNotOptimize(qio_target_port_in(b.Target(), kBase + 0x26, 1));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BoardModelPortIn);

void BM_BoardModelPortOut(benchmark::State& state) {
  OpenBoard b;
  if (!b.Ready()) return state.SkipWithError("no target");
  std::uint32_t v = 0;
  for (auto _ : state) qio_target_port_out(b.Target(), kBase + 0x28, 1, v++ & 0xFF);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BoardModelPortOut);

void BM_DriverRequestDiRead(benchmark::State& state) {
  OpenBoard b;
  QioStream* stream = nullptr;
  if (!b.Ready() || qio_target_device_open(b.Target(), "Q621:", &stream) != QIO_TARGET_OK) {
    return state.SkipWithError("no stream");
  }
  const std::uint32_t request[2] = {0, 1};
  std::uint8_t value = 0;
  for (auto _ : state) {
    qio_target_device_ioctl(stream, 0x9C407830, request, sizeof request, &value, 1, nullptr, nullptr);
    benchmark::DoNotOptimize(value);
  }
  qio_target_device_close(stream);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DriverRequestDiRead);

void BM_DioReadPortByte(benchmark::State& state) {
  OpenBoard b;
  if (!b.Ready()) return state.SkipWithError("no target");
  std::uint8_t value = 0;
  for (auto _ : state) {
    if (DioReadPortByte(b.Handle(), 0, &value) != ZQS_SUCCESS) return state.SkipWithError("read failed");
    benchmark::DoNotOptimize(value);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DioReadPortByte);

void BM_DioWritePortByte(benchmark::State& state) {
  OpenBoard b;
  if (!b.Ready() || DioSetPortMode(b.Handle(), 1, ZQS_DIR_OUTPUT) != ZQS_SUCCESS) {
    return state.SkipWithError("no target");
  }
  std::uint16_t v = 0;
  for (auto _ : state) {
    if (DioWritePortByte(b.Handle(), 1, 0x0F, v++) != ZQS_SUCCESS) return state.SkipWithError("write failed");
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DioWritePortByte);

// One DI edge per iteration: the time from driving the pin to CheckEvent's
// return in a waiting thread, reported as p50 and p99 in microseconds. The
// waiter tells of each wake-up through an event that this side waits on (no
// spinning), and the edges are a millisecond apart.
void BM_CheckEventWakeUp(benchmark::State& state) {
  namespace pf = qio::platform;
  OpenBoard b;
  if (!b.Ready() || EnableEvent(b.Handle(), ZQS_EVENT_DI(0), 1, 1) != ZQS_SUCCESS) {
    return state.SkipWithError("no target");
  }
  const pf::Handle woken = pf::CreateEvent(false, false);
  std::atomic<std::uint64_t> wokeAt{0};
  std::atomic<bool> stop{false};
  std::thread waiter([&] {
    while (!stop) {
      std::uint16_t type = 0;
      if (CheckEvent(b.Handle(), &type, 100) == ZQS_SUCCESS && type == ZQS_EVENT_DI(0)) {
        wokeAt = pf::NowNs();
        pf::SetEvent(woken);
      }
    }
  });
  std::vector<double> latencies;
  for (auto _ : state) {
    const std::uint64_t edgeAt = pf::NowNs();
    qio_sim_set_di(b.Board(), 0, 0x01);
    if (pf::WaitForSingleObject(woken, 1000) == pf::kWaitObject0) {
      latencies.push_back(static_cast<double>(wokeAt.load() - edgeAt) / 1000.0);
    }
    state.PauseTiming();
    // The next edge must not come before the driver cleared this interrupt.
    while ((qio_target_port_in(b.Target(), kBase + 0x22, 2) & 0x04) != 0) pf::Sleep(1);
    qio_sim_set_di(b.Board(), 0, 0x00);
    pf::Sleep(1);
    state.ResumeTiming();
  }
  stop = true;
  waiter.join();
  pf::CloseHandle(woken);
  if (latencies.empty()) return;
  std::sort(latencies.begin(), latencies.end());
  auto at = [&](double q) { return latencies[static_cast<std::size_t>(q * static_cast<double>(latencies.size() - 1))]; };
  state.counters["p50_us"] = at(0.50);
  state.counters["p99_us"] = at(0.99);
}
BENCHMARK(BM_CheckEventWakeUp)->Iterations(2000)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
