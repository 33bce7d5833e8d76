#pragma once
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace veltrane {

inline constexpr int maxThreads = 32;

// Worker threads that stay up for the pool's life, so that the many short
// passes of one run do not each start and join their own threads.
//
// run(count, task, context) calls task(context, i) once for every i in
// [0, count) and returns when all calls have returned. The calling thread
// always takes i = 0 itself, then helps with whatever is left; the workers
// take the others. Tasks must not throw and must not call the host. One run
// at a time per pool; a pool is used from the thread that created it.
class ThreadPool {
 public:
  using Task = void (*)(void* context, int index);

  // Starts up to threads - 1 workers (the caller is the last thread); a
  // worker that cannot be started is simply missing, the caller then does
  // more of the work.
  explicit ThreadPool(int threads);
  ~ThreadPool();
  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;

  // Workers plus the calling thread.
  int threadCount() const noexcept { return workerCount_ + 1; }
  void run(int count, Task task, void* context) noexcept;

 private:
  void workerLoop() noexcept;
  // Claims and runs indices until none is left unclaimed.
  void drain() noexcept;

  std::thread workers_[maxThreads];
  int workerCount_ = 0;

  std::mutex mutex_;
  std::condition_variable wake_;  // a new run, or the end of the pool
  std::condition_variable done_;  // the last index of a run has finished
  std::uint64_t generation_ = 0;
  bool stopping_ = false;
  Task task_ = nullptr;
  void* context_ = nullptr;
  int count_ = 0;
  int next_ = 0;      // first index not yet claimed
  int finished_ = 0;  // indices whose task has returned
};

// While an EnginePoolScope lives, the passes started on its thread
// (runParallel, runRowBands) use its pool; without one each pass brings up
// and joins threads of its own. The driver opens one per run, so a loaded
// plug-in keeps no threads between host calls. Scopes nest (the inner wins).
class EnginePoolScope {
 public:
  EnginePoolScope();
  ~EnginePoolScope();
  EnginePoolScope(const EnginePoolScope&) = delete;
  EnginePoolScope& operator=(const EnginePoolScope&) = delete;

 private:
  ThreadPool pool_;
  ThreadPool* outer_;
};

// Threads for one pass: one per processor, at most 32.
int passThreadCount();

// Runs task(context, i) for i in [0, count) on the current scope's pool (or
// a pass-local one) with the rules of ThreadPool::run.
void runParallel(int count, ThreadPool::Task task, void* context) noexcept;

}  // namespace veltrane
