#include "thread_pool.h"

#include <exception>

#include "platform/platform.h"

namespace veltrane {
namespace {

thread_local ThreadPool* currentPool = nullptr;

}  // namespace

ThreadPool::ThreadPool(int threads) {
  const int wanted = threads < 1 ? 0 : (threads > maxThreads ? maxThreads : threads) - 1;
  for (int i = 0; i < wanted; ++i) {
    try {
      workers_[workerCount_] = std::thread([this] { workerLoop(); });
      ++workerCount_;
    } catch (const std::exception&) {
      break;  // fewer workers; the caller takes their share
    }
  }
}

ThreadPool::~ThreadPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (int i = 0; i < workerCount_; ++i) workers_[i].join();
}

void ThreadPool::drain() noexcept {
  for (;;) {
    int index;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (next_ >= count_) return;
      index = next_++;
    }
    task_(context_, index);
    bool last;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      last = ++finished_ == count_;
    }
    if (last) done_.notify_all();
  }
}

void ThreadPool::workerLoop() noexcept {
  std::uint64_t seen = 0;
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
      if (stopping_) return;
      seen = generation_;
    }
    drain();
  }
}

void ThreadPool::run(int count, Task task, void* context) noexcept {
  if (count <= 0) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    task_ = task;
    context_ = context;
    count_ = count;
    next_ = 1;  // index 0 is the caller's
    finished_ = 0;
    ++generation_;
  }
  if (count > 1) wake_.notify_all();
  task(context, 0);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++finished_;
  }
  drain();
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [&] { return finished_ == count_; });
  count_ = 0;
  next_ = 0;
}

EnginePoolScope::EnginePoolScope() : pool_(passThreadCount()), outer_(currentPool) {
  currentPool = &pool_;
}

EnginePoolScope::~EnginePoolScope() { currentPool = outer_; }

int passThreadCount() {
  const int n = platform::processorCount();
  return n < 1 ? 1 : (n > maxThreads ? maxThreads : n);
}

void runParallel(int count, ThreadPool::Task task, void* context) noexcept {
  if (count <= 1) {
    if (count == 1) task(context, 0);
    return;
  }
  if (currentPool) {
    currentPool->run(count, task, context);
    return;
  }
  ThreadPool local(count);
  local.run(count, task, context);
}

}  // namespace veltrane
