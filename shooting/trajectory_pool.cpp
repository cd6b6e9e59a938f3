#include "shooting/trajectory_pool.hpp"

#include <atomic>
#include <cfenv>
#include <condition_variable>
#include <mutex>
#include <pthread.h>
#include <sched.h>
#include <thread>
#include <vector>

namespace zanfel {

namespace {

int AvailableCpus() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) != 0)
    return 1;
  const int n = CPU_COUNT(&set);
  return n > 0 ? n : 1;
}

int threadsSetting = 0; // 0: from the affinity mask

// A thread that runs out of work first watches for the next thing it waits
// for (a batch to take, the last trajectory of its batch to finish) for a
// few tens of microseconds, and only then sleeps: the gaps between the
// batches of consecutive USRFUN calls are shorter than a sleep and wake-up
// through the kernel, which would otherwise be paid twice per call.
constexpr int kSpinRounds = 4000;

inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

template <class Condition> bool SpinUntil(Condition done) {
  for (int i = 0; i < kSpinRounds; ++i) {
    if (done())
      return true;
    CpuRelax();
  }
  return done();
}

// One batch of tasks at a time; the threads take indices until none are
// left. No worker is inside a batch while the next one is set up, so a late
// worker can never take an index of a batch it did not see begin.
class Pool {
public:
  void Run(int count, int threads, void (*task)(void *, int), void *ctx) {
    EnsureWorkers(threads - 1);
    {
      std::unique_lock<std::mutex> lock(mutex_);
      idle_.wait(lock, [this] { return active_ == 0; });
      batch_ = Batch{task, ctx, count};
      next_.store(0, std::memory_order_relaxed);
      unfinished_.store(count, std::memory_order_relaxed);
      pending_ = count;
      helpers_ = threads - 1;
      ++generation_;
      published_.store(generation_, std::memory_order_release);
    }
    wake_.notify_all();
    Finish(Work(batch_));
    // Every task has returned once unfinished_ reads 0, and its results are
    // visible here; a helper may still be on its way out of the batch, which
    // the next batch waits for.
    if (SpinUntil([this] { return unfinished_.load(std::memory_order_acquire) == 0; }))
      return;
    std::unique_lock<std::mutex> lock(mutex_);
    idle_.wait(lock, [this] { return pending_ == 0 && active_ == 0; });
  }

private:
  struct Batch {
    void (*task)(void *, int);
    void *ctx;
    int count;
  };

  void EnsureWorkers(int n) {
    while (static_cast<int>(workers_.size()) < n) {
      const int index = static_cast<int>(workers_.size());
      // The floating-point environment (the traps) of the starting thread.
      fenv_t env;
      fegetenv(&env);
      workers_.emplace_back([this, index, env] {
        fesetenv(&env);
        WorkerLoop(index);
      });
      workers_.back().detach();
    }
  }

  void WorkerLoop(int index) {
    unsigned long seen = 0;
    for (;;) {
      Batch batch;
      SpinUntil([&] { return published_.load(std::memory_order_acquire) != seen; });
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [&] { return generation_ != seen; });
        seen = generation_;
        if (index >= helpers_ || pending_ == 0)
          continue;
        batch = batch_;
        ++active_;
      }
      const int finished = Work(batch);
      std::lock_guard<std::mutex> lock(mutex_);
      --active_;
      pending_ -= finished;
      idle_.notify_all();
    }
  }

  int Work(const Batch &batch) {
    int finished = 0;
    for (int i; (i = next_.fetch_add(1, std::memory_order_relaxed)) < batch.count;) {
      batch.task(batch.ctx, i);
      unfinished_.fetch_sub(1, std::memory_order_release);
      ++finished;
    }
    return finished;
  }

  void Finish(int finished) {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_ -= finished;
  }

  std::mutex mutex_;
  std::condition_variable wake_, idle_;
  std::vector<std::thread> workers_;
  Batch batch_{};
  std::atomic<int> next_{0};
  std::atomic<int> unfinished_{0};          // tasks of the batch not yet returned
  std::atomic<unsigned long> published_{0}; // generation_, for the spinning helpers
  int pending_ = 0;
  int active_ = 0;
  int helpers_ = 0;
  unsigned long generation_ = 0;
};

// Never destroyed: detached workers may still wait on it at exit.
Pool *pool = nullptr;

// A forked child has none of the parent's workers: it starts its own.
void ForgetPoolInChild() {
  pool = nullptr;
}

Pool &ThePool() {
  if (!pool) {
    static const bool registered = pthread_atfork(nullptr, nullptr, ForgetPoolInChild) == 0;
    (void)registered;
    pool = new Pool;
  }
  return *pool;
}

} // namespace

int TrajectoryThreads() {
  static const int cpus = AvailableCpus();
  return threadsSetting > 0 ? threadsSetting : cpus;
}

void SetTrajectoryThreads(int threads) {
  threadsSetting = threads;
}

void RunOnPool(int count, int threads, void (*task)(void *, int), void *ctx) {
  if (threads <= 1 || count <= 1) {
    for (int i = 0; i < count; ++i)
      task(ctx, i);
    return;
  }
  ThePool().Run(count, threads, task, ctx);
}

} // namespace zanfel
