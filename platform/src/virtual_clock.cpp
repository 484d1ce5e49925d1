// The virtual clock's single-runner scheduler (virtual_clock.h, scheduler.h).
//
// State of one session of the clock (from StartVirtualClock to
// StopVirtualClock), all under one lock:
//   current   the runner holding the turn, or none;
//   ready     runners released and waiting for the turn: the hosted system's
//             service threads (the board models' timers) first, then the
//             platform's threads (the driver's), then application threads,
//             oldest first within each, so that at every instant the board
//             and the driver have done their part before an application looks;
//   timed     blocked runners with a deadline, by (deadline, order of waiting);
//   parked    each blocked runner also sits on the ParkQueue of the condition
//             or lock it waits for (the queue lives in that object).
// Invariant: with no current runner, no runner is ready (whoever leaves the
// turn hands it on). With no current and no ready runner the clock jumps to
// the first deadline in `timed` and releases every runner due then, in order.
//
// Runner records are never freed: a record is bound to a thread from its
// first use until the thread exits (a thread-specific key's destructor gives
// it back), and is attached afresh in every session.
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <array>
#include <deque>
#include <list>
#include <map>
#include <thread>
#include <utility>

#include "qio/platform/virtual_clock.h"
#include "scheduler.h"

namespace qio::platform::detail {

enum class RunState : std::uint8_t { kIdle, kRunning, kReady, kBlocked, kDetached };

struct Runner {
  std::condition_variable turn;
  std::string name;
  bool inUse = false;
  RunnerRank rank = RunnerRank::kApplication;
  std::uint64_t session = 0;    // the session it is attached in; 0: none
  std::atomic<RunState> state{RunState::kIdle};
  // While blocked:
  ParkQueue* parkedOn = nullptr;
  std::uint64_t deadline = kNoDeadline;
  std::uint64_t timedOrder = 0;
  bool timedOut = false;
  // While holding the turn:
  std::uint64_t turnSinceRealNs = 0;
  bool stallReported = false;
};

namespace {

constexpr std::uint64_t kDefaultStallLimitNs = 3'000'000'000ull;
constexpr std::uint64_t kWatchPeriodNs = 50'000'000ull;

using TimedKey = std::pair<std::uint64_t, std::uint64_t>;  // deadline, order of waiting

// The runners waiting for the turn, by rank, oldest first within a rank.
class ReadyQueue {
 public:
  void Push(Runner* r) { lanes_[static_cast<std::size_t>(r->rank)].push_back(r); }
  bool Empty() const {
    for (const auto& lane : lanes_) {
      if (!lane.empty()) return false;
    }
    return true;
  }
  Runner* Pop() {
    for (auto& lane : lanes_) {
      if (lane.empty()) continue;
      Runner* r = lane.front();
      lane.pop_front();
      return r;
    }
    return nullptr;
  }
  void Erase(Runner* r) {
    for (auto& lane : lanes_) std::erase(lane, r);
  }
  void Clear() {
    for (auto& lane : lanes_) lane.clear();
  }

 private:
  std::array<std::deque<Runner*>, 3> lanes_;
};

struct ClockState {
  std::mutex mutex;
  std::atomic<std::uint64_t> nowNs{0};
  std::atomic<std::uint64_t> session{0};
  Runner* current = nullptr;
  ReadyQueue ready;
  std::map<TimedKey, Runner*> timed;
  std::uint64_t timedOrder = 0;
  // Detached runners, and where the clock stood when the first detached:
  // while there are any, virtual time runs no faster than real time.
  std::size_t detached = 0;
  std::uint64_t paceVirtualNs = 0;
  std::uint64_t paceRealNs = 0;
  std::list<Runner> runners;  // every record ever made
  // The watch: paced jumps and reports.
  std::thread watch;
  std::condition_variable watchWake;
  bool watchStop = false;
  std::uint64_t stallLimitNs = kDefaultStallLimitNs;
  std::uint64_t stuckSinceRealNs = 0;  // when every thread began to wait without a time-out
  bool stuckReported = false;
  std::uint64_t reportNumber = 0;
  std::string reportText;
};

// Constant-initialised, so that the real-time paths read it without a guard.
constinit std::atomic<bool> gOn{false};

ClockState& State() {
  static ClockState* state = new ClockState;  // never destroyed: threads may outlive main()
  return *state;
}

thread_local Runner* tRunner = nullptr;

void OnThreadExit(void* record);

pthread_key_t ExitKey() {
  static const pthread_key_t key = [] {
    pthread_key_t k;
    pthread_key_create(&k, OnThreadExit);
    return k;
  }();
  return key;
}

std::string DefaultName() {
  char os[16] = {};
  pthread_getname_np(pthread_self(), os, sizeof os);
  return "application thread " + std::to_string(static_cast<long>(::syscall(SYS_gettid))) + " (\"" + os + "\")";
}

Runner& NewRunnerLocked(ClockState& s) {
  Runner* record = nullptr;
  for (Runner& r : s.runners) {
    if (!r.inUse) {
      record = &r;
      break;
    }
  }
  if (record == nullptr) record = &s.runners.emplace_back();
  record->inUse = true;
  record->rank = RunnerRank::kApplication;
  record->session = 0;
  record->state.store(RunState::kIdle);
  record->parkedOn = nullptr;
  record->deadline = kNoDeadline;
  record->timedOut = false;
  record->stallReported = false;
  return *record;
}

// A runner of an earlier session is idle in this one.
void JoinSessionLocked(ClockState& s, Runner& r) {
  const std::uint64_t session = s.session.load();
  if (r.session == session) return;
  r.session = session;
  r.state.store(RunState::kIdle);
  r.parkedOn = nullptr;
  r.deadline = kNoDeadline;
  r.stallReported = false;
}

void TakeTurnLocked(ClockState& s, Runner& r) {
  s.current = &r;
  r.state.store(RunState::kRunning);
  r.turnSinceRealNs = RealNowNs();
  r.turn.notify_one();
}

void UnparkLocked(ClockState& s, Runner& r) {
  if (r.parkedOn != nullptr) {
    std::erase(r.parkedOn->runners, &r);
    r.parkedOn->count.fetch_sub(1);
    r.parkedOn = nullptr;
  }
  if (r.deadline != kNoDeadline) {
    s.timed.erase({r.deadline, r.timedOrder});
    r.deadline = kNoDeadline;
  }
}

// Releases the clock-due runners at `t` and moves the clock there.
void AdvanceLocked(ClockState& s, std::uint64_t t) {
  if (t > s.nowNs.load()) s.nowNs.store(t);
  while (!s.timed.empty() && s.timed.begin()->first.first <= s.nowNs.load()) {
    Runner& r = *s.timed.begin()->second;
    UnparkLocked(s, r);
    r.timedOut = true;
    r.state.store(RunState::kReady);
    s.ready.Push(&r);
  }
}

// Whether pacing lets the clock jump to `t` now (see ClockState::detached).
bool PaceAllowsLocked(const ClockState& s, std::uint64_t t) {
  if (s.detached == 0 || t <= s.paceVirtualNs) return true;
  return RealNowNs() >= s.paceRealNs + (t - s.paceVirtualNs);
}

// Hands the turn on when nobody holds it: to the oldest ready runner, or
// after a jump of the clock to the runners due first.
void DispatchLocked(ClockState& s) {
  if (!gOn.load() || s.current != nullptr) return;
  if (s.ready.Empty()) {
    if (s.timed.empty()) return;
    const std::uint64_t next = s.timed.begin()->first.first;
    if (!PaceAllowsLocked(s, next)) {
      s.watchWake.notify_one();
      return;
    }
    AdvanceLocked(s, next);
  }
  if (Runner* next = s.ready.Pop()) TakeTurnLocked(s, *next);
}

void DetachedJoinsLocked(ClockState& s) {
  if (s.detached++ == 0) {
    s.paceVirtualNs = s.nowNs.load();
    s.paceRealNs = RealNowNs();
  }
}

void DetachedLeavesLocked(ClockState& s) {
  if (s.detached > 0) --s.detached;
}

// Waits on the runner's own condition until it holds the turn or the
// session ends; false when it ended.
bool WaitTurnLocked(ClockState& s, Runner& r, std::unique_lock<std::mutex>& clock) {
  const std::uint64_t session = s.session.load();
  while (gOn.load() && s.session.load() == session && s.current != &r) r.turn.wait(clock);
  return gOn.load() && s.session.load() == session;
}

void EnterLocked(ClockState& s, Runner& r, std::unique_lock<std::mutex>& clock) {
  JoinSessionLocked(s, r);
  switch (r.state.load()) {
    case RunState::kRunning: return;
    case RunState::kDetached: DetachedLeavesLocked(s); [[fallthrough]];
    case RunState::kIdle:
      if (s.current == nullptr) {
        TakeTurnLocked(s, r);
        return;
      }
      r.state.store(RunState::kReady);
      s.ready.Push(&r);
      WaitTurnLocked(s, r, clock);
      return;
    case RunState::kReady:
    case RunState::kBlocked: return;  // not seen by the thread itself
  }
}

// The thread of `r` leaves the clock for good (it ends).
void LeaveLocked(ClockState& s, Runner& r) {
  if (r.session != s.session.load() || !gOn.load()) {
    r.session = 0;
    return;
  }
  if (r.state.load() == RunState::kDetached) DetachedLeavesLocked(s);
  if (r.state.load() == RunState::kReady) s.ready.Erase(&r);
  UnparkLocked(s, r);
  if (s.current == &r) s.current = nullptr;
  r.state.store(RunState::kIdle);
  r.session = 0;
  DispatchLocked(s);
}

void OnThreadExit(void* record) {
  auto* runner = static_cast<Runner*>(record);
  ClockState& s = State();
  std::scoped_lock lock(s.mutex);
  LeaveLocked(s, *runner);
  runner->inUse = false;
}

std::string Seconds(std::uint64_t ns) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6f s", static_cast<double>(ns) / 1e9);
  return text;
}

// Records a report and writes it to stderr, outside the lock.
void ReportLocked(ClockState& s, std::unique_lock<std::mutex>& clock, std::string text) {
  ++s.reportNumber;
  s.reportText = text;
  clock.unlock();
  std::fprintf(stderr, "%s\n", text.c_str());
  std::fflush(stderr);
  clock.lock();
}

// One look of the watch: a paced jump that has come due, a thread that has
// held the clock too long, or every thread waiting for ever. Returns the
// real instant of the next look.
std::uint64_t WatchOnceLocked(ClockState& s, std::unique_lock<std::mutex>& clock) {
  const std::uint64_t now = RealNowNs();
  std::uint64_t next = now + kWatchPeriodNs;
  if (s.current == nullptr && s.ready.Empty() && !s.timed.empty()) {
    const std::uint64_t due = s.timed.begin()->first.first;
    if (PaceAllowsLocked(s, due)) {
      DispatchLocked(s);
      return now;
    }
    next = std::min(next, s.paceRealNs + (due - s.paceVirtualNs));
  }
  if (Runner* holder = s.current; holder != nullptr) {
    if (!holder->stallReported && now - holder->turnSinceRealNs >= s.stallLimitNs) {
      holder->stallReported = true;
      ReportLocked(s, clock,
                   "qio5162 virtual clock: " + holder->name + " has held the clock for " +
                       Seconds(now - holder->turnSinceRealNs) + " of real time without waiting in the target; " +
                       "virtual time stands still at " + Seconds(s.nowNs.load()) +
                       ". In virtual time a thread waits with the target's calls (CheckEvent, qio_target_sleep), "
                       "not with the OS's sleep, and detaches (qio_target_detach_thread) before it waits for "
                       "something outside the target.");
    }
  }
  // Nothing will ever happen: every thread waits without a time-out, and an
  // application thread is among them.
  std::string waiting;
  if (s.current == nullptr && s.ready.Empty() && s.timed.empty() && s.detached == 0) {
    for (const Runner& r : s.runners) {
      if (r.inUse && r.rank == RunnerRank::kApplication && r.session == s.session.load() && r.state.load() == RunState::kBlocked) {
        waiting += (waiting.empty() ? "" : ", ") + r.name;
      }
    }
  }
  if (waiting.empty()) {
    s.stuckSinceRealNs = 0;
    s.stuckReported = false;
  } else if (s.stuckSinceRealNs == 0) {
    s.stuckSinceRealNs = now;
  } else if (!s.stuckReported && now - s.stuckSinceRealNs >= s.stallLimitNs) {
    s.stuckReported = true;
    ReportLocked(s, clock,
                 "qio5162 virtual clock: every thread of the target waits without a time-out, so nothing can "
                 "happen any more; virtual time stands at " + Seconds(s.nowNs.load()) + "; waiting: " + waiting);
  }
  return next;
}

void WatchLoop() {
  ClockState& s = State();
  std::unique_lock clock(s.mutex);
  while (!s.watchStop) {
    const std::uint64_t next = WatchOnceLocked(s, clock);
    if (s.watchStop) break;
    const std::uint64_t now = RealNowNs();
    if (next > now) s.watchWake.wait_for(clock, std::chrono::nanoseconds(next - now));
  }
}

}  // namespace

bool VirtualClockOn() { return gOn.load(std::memory_order_relaxed); }

std::uint64_t VirtualNowNs() { return State().nowNs.load(); }

std::unique_lock<std::mutex> ClockLock() { return std::unique_lock(State().mutex); }

Runner& ThisRunnerLocked() {
  if (tRunner == nullptr) {
    Runner& r = NewRunnerLocked(State());
    r.name = DefaultName();
    tRunner = &r;
    pthread_setspecific(ExitKey(), &r);
  }
  return *tRunner;
}

bool ParkLockedImpl(std::unique_lock<std::mutex>& clock, ParkQueue* queue, std::uint64_t deadlineNs,
                    void (*release)(void*), void* context) {
  ClockState& s = State();
  Runner& r = ThisRunnerLocked();
  JoinSessionLocked(s, r);
  if (r.state.load() == RunState::kDetached) DetachedLeavesLocked(s);
  r.state.store(RunState::kBlocked);
  r.timedOut = false;
  if (queue != nullptr) {
    queue->runners.push_back(&r);  // counted by the caller
    r.parkedOn = queue;
  }
  if (deadlineNs != kNoDeadline) {
    r.deadline = deadlineNs;
    r.timedOrder = ++s.timedOrder;
    s.timed.emplace(TimedKey{deadlineNs, r.timedOrder}, &r);
  }
  if (s.current == &r) s.current = nullptr;
  release(context);
  DispatchLocked(s);
  if (!WaitTurnLocked(s, r, clock)) return true;  // the clock stopped: a spurious wake-up
  return !r.timedOut;
}

void WakeOneLocked(ParkQueue& queue) {
  ClockState& s = State();
  if (queue.runners.empty()) return;
  Runner& r = *queue.runners.front();
  UnparkLocked(s, r);
  r.state.store(RunState::kReady);
  s.ready.Push(&r);
  DispatchLocked(s);
}

void WakeAllLocked(ParkQueue& queue) {
  while (!queue.runners.empty()) WakeOneLocked(queue);
}

void YieldLocked(std::unique_lock<std::mutex>& clock) {
  ClockState& s = State();
  Runner& r = ThisRunnerLocked();
  EnterLocked(s, r, clock);
  if (s.current != &r || s.ready.Empty()) return;
  r.state.store(RunState::kReady);
  s.ready.Push(&r);
  s.current = nullptr;
  DispatchLocked(s);
  WaitTurnLocked(s, r, clock);
}

Runner* PrepareThreadRunner(const std::string& name, RunnerRank rank) {
  if (!VirtualClockOn()) return nullptr;
  ClockState& s = State();
  std::scoped_lock lock(s.mutex);
  if (!gOn.load()) return nullptr;
  Runner& r = NewRunnerLocked(s);
  r.name = name;
  r.rank = rank;
  r.session = s.session.load();
  r.state.store(RunState::kReady);
  s.ready.Push(&r);
  DispatchLocked(s);
  return &r;
}

void AbandonThreadRunner(Runner* runner) {
  if (runner == nullptr) return;
  ClockState& s = State();
  std::scoped_lock lock(s.mutex);
  LeaveLocked(s, *runner);
  runner->inUse = false;
}

void BindThreadRunner(Runner* runner) {
  if (runner == nullptr) return;
  ClockState& s = State();
  std::unique_lock clock(s.mutex);
  tRunner = runner;
  pthread_setspecific(ExitKey(), runner);
  if (runner->session != s.session.load() || !gOn.load()) return;  // the clock stopped before it began
  WaitTurnLocked(s, *runner, clock);
}

void EndThreadRunner() {
  if (tRunner == nullptr) return;
  ClockState& s = State();
  std::scoped_lock lock(s.mutex);
  LeaveLocked(s, *tRunner);
}

}  // namespace qio::platform::detail

namespace qio::platform {

using detail::ClockState;
using detail::gOn;
using detail::State;

bool StartVirtualClock() {
  ClockState& s = State();
  std::unique_lock clock(s.mutex);
  if (gOn.load()) return false;
  s.session.fetch_add(1);
  s.nowNs.store(0);
  s.current = nullptr;
  s.ready.Clear();
  s.timed.clear();
  s.detached = 0;
  s.stuckSinceRealNs = 0;
  s.stuckReported = false;
  gOn.store(true);
  detail::Runner& self = detail::ThisRunnerLocked();
  detail::JoinSessionLocked(s, self);
  detail::TakeTurnLocked(s, self);
  s.watchStop = false;
  s.watch = std::thread(detail::WatchLoop);
  return true;
}

void StopVirtualClock() {
  ClockState& s = State();
  std::thread watch;
  {
    std::scoped_lock lock(s.mutex);
    if (!gOn.load()) return;
    gOn.store(false);
    s.session.fetch_add(1);
    // Every waiter goes on under real time; its wait returns as if woken.
    for (detail::Runner& r : s.runners) {
      if (!r.inUse) continue;
      detail::UnparkLocked(s, r);
      r.turn.notify_all();
    }
    s.current = nullptr;
    s.ready.Clear();
    s.timed.clear();
    s.detached = 0;
    s.watchStop = true;
    s.watchWake.notify_all();
    watch = std::move(s.watch);
  }
  if (watch.joinable()) watch.join();
}

bool VirtualClockRunning() { return detail::VirtualClockOn(); }

void EnterTarget() {
  if (!detail::VirtualClockOn()) return;
  ClockState& s = State();
  // Fast path: the calling thread holds the turn already.
  if (detail::tRunner != nullptr && detail::tRunner->session == s.session.load() &&
      detail::tRunner->state.load() == detail::RunState::kRunning) {
    return;
  }
  std::unique_lock clock(s.mutex);
  if (!gOn.load()) return;
  detail::EnterLocked(s, detail::ThisRunnerLocked(), clock);
}

void DetachThread() {
  if (!detail::VirtualClockOn()) return;
  ClockState& s = State();
  std::scoped_lock lock(s.mutex);
  if (!gOn.load() || detail::tRunner == nullptr) return;
  detail::Runner& r = *detail::tRunner;
  if (r.session != s.session.load() || r.state.load() != detail::RunState::kRunning) return;
  r.state.store(detail::RunState::kDetached);
  detail::DetachedJoinsLocked(s);
  if (s.current == &r) s.current = nullptr;
  detail::DispatchLocked(s);
}

void NameThread(std::string_view name) {
  ClockState& s = State();
  std::scoped_lock lock(s.mutex);
  detail::ThisRunnerLocked().name = std::string(name);
}

void SetClockStallLimit(std::uint32_t milliseconds) {
  ClockState& s = State();
  std::scoped_lock lock(s.mutex);
  s.stallLimitNs = milliseconds == 0 ? detail::kDefaultStallLimitNs : std::uint64_t{milliseconds} * 1'000'000u;
  s.watchWake.notify_all();
}

ClockReport LatestClockReport() {
  ClockState& s = State();
  std::scoped_lock lock(s.mutex);
  return {s.reportNumber, s.reportText};
}

}  // namespace qio::platform
