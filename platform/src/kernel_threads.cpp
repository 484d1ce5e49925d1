// Threads of the hosted target, and the process services that go with them.
//
// Each CreateThread runs on a std::thread. Its kernel object is shared by the
// handle table, the running thread and the list of started threads, so
// closing the handle of a running thread is harmless: the thread runs on and
// its object lives until it has ended and been joined.
//
// Priorities are numbers 0 (highest) to 255 (lowest) that are stored, not
// given to the host scheduler. The pseudo handle kCurrentThread reaches the
// calling thread's priority, also on threads this library did not start.
//
// In virtual time a thread is known to the clock from CreateThread on, under
// a name that tells its module and entry point, and ends its turn as its last
// act: whoever joins it then waits only for the OS thread to finish.
//
// Ended threads are joined by JoinAllThreads and, in passing, by the next
// CreateThread, and at process exit. The list itself is never destroyed, so a
// thread that is still running when the process exits is detached rather
// than destroyed joinable, and still finds every platform object in place.

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <list>
#include <thread>

#include "kernel_objects.h"
#include "qio/platform/clock.h"
#include "qio/platform/errors.h"
#include "qio/platform/faults.h"
#include "scheduler.h"

namespace qio::platform {
namespace {

constexpr int kLowestPriority = 255;

class ThreadObject final : public detail::Waitable {
 public:
  static constexpr detail::ObjectKind kKind = detail::ObjectKind::Thread;

  ThreadObject() : Waitable(kKind, false, false) {}

  std::atomic<std::uint32_t> exitCode{kStillActive};
  std::atomic<int> priority{kThreadPriorityNormal};
  // Guarded by the list's mutex.
  std::thread worker;
  bool finished = false;
};

struct ThreadList {
  std::mutex mutex;
  Condition ended;
  std::list<std::shared_ptr<ThreadObject>> started;
  std::size_t running = 0;
  std::uint64_t created = 0;
};

ThreadList& Threads() {
  static ThreadList* list = new ThreadList;  // never destroyed, see above
  return *list;
}

// The calling thread's own object when this library started it.
thread_local ThreadObject* tSelf = nullptr;
// Priority of a thread this library did not start.
thread_local int tForeignPriority = kThreadPriorityNormal;

// Moves the ended threads out of the list; the caller joins them outside
// the lock.
std::vector<std::thread> TakeEndedLocked(ThreadList& list) {
  std::vector<std::thread> ended;
  // Room first: a move into it must not fail half-way, or a joinable thread
  // would be destroyed with the vector.
  ended.reserve(list.started.size());
  for (auto it = list.started.begin(); it != list.started.end();) {
    if ((*it)->finished) {
      ended.push_back(std::move((*it)->worker));
      it = list.started.erase(it);
    } else {
      ++it;
    }
  }
  return ended;
}

void JoinEach(std::vector<std::thread>& threads) {
  for (std::thread& t : threads) {
    if (t.joinable()) t.join();
  }
}

void RunThread(const std::shared_ptr<ThreadObject>& self, ThreadProc proc, void* argument,
               detail::Runner* runner) {
  detail::BindThreadRunner(runner);
  tSelf = self.get();
  const std::uint32_t exitCode = proc(argument);
  self->exitCode.store(exitCode);
  tSelf = nullptr;
  ThreadList& list = Threads();
  {
    std::scoped_lock lock(list.mutex);
    self->finished = true;
    --list.running;
  }
  list.ended.NotifyAll();
  {
    detail::WakeList woken;  // notified once the lock is released
    std::scoped_lock lock(detail::WaitMutex());
    self->SignalLocked(woken);
  }
  detail::EndThreadRunner();
}

// "platform thread 3 (libZqs5162s.so+0x1a2b0)": the module and the entry
// point's offset in it, for the clock's reports.
std::string ThreadName(ThreadProc proc, std::uint64_t number) {
  std::string name = "platform thread " + std::to_string(number);
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(proc), &info) != 0 && info.dli_fname != nullptr) {
    std::string module = info.dli_fname;
    if (const std::size_t slash = module.find_last_of('/'); slash != std::string::npos) module.erase(0, slash + 1);
    char offset[32];
    std::snprintf(offset, sizeof offset, "+0x%zx",
                  static_cast<std::size_t>(reinterpret_cast<std::uintptr_t>(reinterpret_cast<void*>(proc)) -
                                           reinterpret_cast<std::uintptr_t>(info.dli_fbase)));
    name += " (" + module + offset + ")";
  }
  return name;
}

// At process exit: joins the threads that have ended and lets the ones still
// running go on detached, so that no std::thread is left unjoined.
struct ExitReaper {
  ~ExitReaper() {
    ThreadList& list = Threads();
    std::vector<std::thread> ended;
    {
      std::scoped_lock lock(list.mutex);
      ended = TakeEndedLocked(list);
      for (const auto& object : list.started) {
        if (object->worker.joinable() && object->worker.get_id() != std::this_thread::get_id()) {
          object->worker.detach();
        }
      }
    }
    JoinEach(ended);
  }
};
const ExitReaper gExitReaper;

std::shared_ptr<ThreadObject> LookupThread(Handle thread) {
  return detail::LookupHandleAs<ThreadObject>(thread);
}

// CreateThread after its checks: the thread is listed before it starts, so
// that nothing can fail once it runs. Throws std::bad_alloc only before the
// thread or its handle exist. Threads that have ended go to *ended, to be
// joined outside the lock.
Handle StartThread(ThreadProc proc, void* argument, std::vector<std::thread>* ended) {
  auto object = std::make_shared<ThreadObject>();
  const Handle handle = detail::InsertHandle(object);
  if (handle == kNullHandle) return kNullHandle;

  ThreadList& list = Threads();
  std::scoped_lock lock(list.mutex);
  bool listed = false;
  detail::Runner* runner = nullptr;
  try {
    *ended = TakeEndedLocked(list);
    list.started.push_back(object);
    listed = true;
    ++list.created;
    if (detail::VirtualClockOn()) {
      runner = detail::PrepareThreadRunner(ThreadName(proc, list.created), detail::RunnerRank::kPlatform);
    }
  } catch (const std::bad_alloc&) {
    if (listed) list.started.pop_back();
    detail::RemoveHandle(handle);
    throw;
  }
  try {
    // The new thread cannot finish before it is counted: its last step takes
    // this lock.
    object->worker = std::thread(RunThread, object, proc, argument, runner);
  } catch (const std::exception&) {  // no thread to be had
    detail::AbandonThreadRunner(runner);
    list.started.pop_back();
    detail::RemoveHandle(handle);
    NoteResourceFailure();
    SetLastError(kErrorNotEnoughMemory);
    return kNullHandle;
  }
  ++list.running;
  return handle;
}

}  // namespace

Handle CreateThread(ThreadProc proc, void* argument) {
  if (proc == nullptr) {
    SetLastError(kErrorInvalidParameter);
    return kNullHandle;
  }
  if (ShouldFail(FaultKind::ThreadCreation)) {
    SetLastError(kErrorNotEnoughMemory);
    return kNullHandle;
  }
  std::vector<std::thread> ended;
  Handle handle = kNullHandle;
  try {
    handle = StartThread(proc, argument, &ended);
  } catch (const std::bad_alloc&) {  // nothing was started
    NoteResourceFailure();
    SetLastError(kErrorNotEnoughMemory);
  }
  JoinEach(ended);
  return handle;
}

bool GetExitCodeThread(Handle thread, std::uint32_t* exitCode) {
  if (exitCode == nullptr) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  if (thread == kCurrentThread) {
    *exitCode = kStillActive;
    return true;
  }
  const std::shared_ptr<ThreadObject> object = LookupThread(thread);
  if (!object) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  *exitCode = object->exitCode.load();
  return true;
}

bool SetThreadPriority(Handle thread, int priority) {
  if (thread == kCurrentThread) {
    if (priority < 0 || priority > kLowestPriority) {
      SetLastError(kErrorInvalidParameter);
      return false;
    }
    if (tSelf) {
      tSelf->priority.store(priority);
    } else {
      tForeignPriority = priority;
    }
    return true;
  }
  const std::shared_ptr<ThreadObject> object = LookupThread(thread);
  if (!object) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  if (priority < 0 || priority > kLowestPriority) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  object->priority.store(priority);
  return true;
}

int GetThreadPriority(Handle thread) {
  if (thread == kCurrentThread) return tSelf ? tSelf->priority.load() : tForeignPriority;
  const std::shared_ptr<ThreadObject> object = LookupThread(thread);
  if (!object) {
    SetLastError(kErrorInvalidHandle);
    return -1;
  }
  return object->priority.load();
}

Handle GetCurrentThread() { return kCurrentThread; }

std::size_t JoinAllThreads(std::uint32_t milliseconds) {
  const std::uint64_t deadline =
      milliseconds == kInfinite ? kNoDeadline : NowNs() + std::uint64_t{milliseconds} * 1'000'000u;
  ThreadList& list = Threads();
  std::vector<std::thread> ended;
  std::size_t stillRunning;
  {
    std::unique_lock lock(list.mutex);
    // A platform thread that calls this cannot wait for its own end.
    const std::size_t self = tSelf ? 1 : 0;
    while (list.running > self) {
      if (!list.ended.WaitUntil(lock, deadline) && list.running > self) break;
    }
    ended = TakeEndedLocked(list);
    stillRunning = list.running;
  }
  JoinEach(ended);
  return stillRunning;
}

std::size_t LiveThreadCount() {
  ThreadList& list = Threads();
  std::scoped_lock lock(list.mutex);
  return list.running;
}

std::uint32_t GetCurrentProcessId() { return static_cast<std::uint32_t>(::getpid()); }

bool DisableThreadLibraryCalls(void* /*module*/) { return true; }

}  // namespace qio::platform
