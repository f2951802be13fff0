#include "backends/linux_services/deadline.h"

#include <pthread.h>

#include <condition_variable>
#include <csignal>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace forms::linux_services {
namespace {

// What the waiting thread and the job share; the last of the two to let go frees it.
struct Shared {
  std::mutex mutex;
  std::condition_variable done;
  std::optional<Result<PictureRef>> result;
};

void block_ending_signals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

}  // namespace

Result<PictureRef> run_within(std::chrono::milliseconds deadline, const std::string& what,
                              std::function<Result<PictureRef>()> job) {
  auto shared = std::make_shared<Shared>();
  std::thread worker([shared, job = std::move(job)] {
    block_ending_signals();
    Result<PictureRef> result = job();
    const std::lock_guard lock(shared->mutex);
    shared->result.emplace(std::move(result));
    shared->done.notify_one();
  });
  std::unique_lock lock(shared->mutex);
  const bool finished = shared->done.wait_for(lock, deadline, [&] { return shared->result.has_value(); });
  if (!finished) {
    lock.unlock();
    worker.detach();
    const std::string limit = deadline.count() % 1000 == 0 ? std::to_string(deadline.count() / 1000) + " s"
                                                           : std::to_string(deadline.count()) + " ms";
    return Error{what + ": it took longer than " + limit + std::string(kOverdue), Failure::Passing};
  }
  Result<PictureRef> result = std::move(*shared->result);
  lock.unlock();
  worker.join();
  return result;
}

}  // namespace forms::linux_services
