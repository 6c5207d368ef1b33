#include "app/errands.h"

#include <pthread.h>

#include <chrono>

namespace tovalink {

Errands::Errands() : thread_([this] { Loop(); }) {}

Errands::~Errands() {
  {
    std::lock_guard lock(mutex_);
    ending_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void Errands::Loop() {
  pthread_setname_np(pthread_self(), "errands");
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return ending_ || !tasks_.empty(); });
    if (tasks_.empty()) return;  // ending, with nothing left to run
    const std::shared_ptr<Task> task = tasks_.front();
    lock.unlock();
    std::exception_ptr failure;
    try {
      task->job();
    } catch (...) {
      failure = std::current_exception();
    }
    lock.lock();
    task->done = true;
    task->failure = failure;
    tasks_.pop_front();
    changed_.notify_all();
  }
}

bool Errands::Run(std::function<void()> job, int64_t wait_ms) {
  auto task = std::make_shared<Task>();
  task->job = std::move(job);
  std::unique_lock lock(mutex_);
  tasks_.push_back(task);
  changed_.notify_all();
  if (!changed_.wait_for(lock, std::chrono::milliseconds(wait_ms), [&] { return task->done; })) {
    return false;
  }
  if (task->failure) std::rethrow_exception(task->failure);
  return true;
}

bool Errands::Busy() const {
  std::lock_guard lock(mutex_);
  return !tasks_.empty();
}

}  // namespace tovalink
