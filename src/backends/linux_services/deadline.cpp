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

void block_ending_signals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

}  // namespace

// What the waiting thread and the job share; the last of the two to let go frees it.
struct BackgroundJob::Shared {
  std::mutex mutex;
  std::condition_variable done;
  std::optional<Result<PictureRef>> result;
};

BackgroundJob::BackgroundJob(std::function<Result<PictureRef>()> job)
    : m_shared(std::make_shared<Shared>()), m_started(std::chrono::steady_clock::now()) {
  m_worker = std::thread([shared = m_shared, job = std::move(job)] {
    block_ending_signals();
    Result<PictureRef> result = job();
    const std::lock_guard lock(shared->mutex);
    shared->result.emplace(std::move(result));
    shared->done.notify_one();
  });
}

BackgroundJob::BackgroundJob(BackgroundJob&&) noexcept = default;

BackgroundJob::~BackgroundJob() {
  if (m_worker.joinable()) m_worker.detach();
}

Result<PictureRef> BackgroundJob::wait(std::chrono::milliseconds deadline, const std::string& what) {
  std::unique_lock lock(m_shared->mutex);
  const bool finished =
      m_shared->done.wait_until(lock, m_started + deadline, [&] { return m_shared->result.has_value(); });
  if (!finished) {
    lock.unlock();
    m_worker.detach();
    const std::string limit = deadline.count() % 1000 == 0 ? std::to_string(deadline.count() / 1000) + " s"
                                                           : std::to_string(deadline.count()) + " ms";
    return Error{what + ": it took longer than " + limit + std::string(kOverdue), Failure::Passing};
  }
  Result<PictureRef> result = std::move(*m_shared->result);
  lock.unlock();
  m_worker.join();
  return result;
}

Result<PictureRef> run_within(std::chrono::milliseconds deadline, const std::string& what,
                              std::function<Result<PictureRef>()> job) {
  return BackgroundJob(std::move(job)).wait(deadline, what);
}

}  // namespace forms::linux_services
