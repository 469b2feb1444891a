#include "rsa/parallelwork.h"

#include <atomic>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// Hands out job indices one at a time, so a thread that finishes early takes
// the next job instead of idling behind a fixed split.
class TJobQueue {
public:
    TJobQueue(std::size_t count, const std::function<void(std::size_t)>& job) : Count(count), Job(job) {}

    void Work() noexcept {
        while (!Stopped.load(std::memory_order_relaxed)) {
            const std::size_t index = Next.fetch_add(1, std::memory_order_relaxed);
            if (index >= Count) return;
            try {
                Job(index);
            } catch (...) {
                Fail(std::current_exception());
                return;
            }
        }
    }

    void RethrowFailure() const {
        if (Failure) std::rethrow_exception(Failure);
    }

private:
    void Fail(std::exception_ptr failure) noexcept {
        const std::lock_guard<std::mutex> lock(FailureMutex);
        if (!Failure) Failure = std::move(failure);
        Stopped.store(true, std::memory_order_relaxed);
    }

    const std::size_t Count;
    const std::function<void(std::size_t)>& Job;
    std::atomic<std::size_t> Next{0};
    std::atomic<bool> Stopped{false};
    std::mutex FailureMutex;
    std::exception_ptr Failure;
};

// Starts up to `wanted` threads running the queue; fewer if the system refuses.
std::vector<std::thread> StartHelpers(TJobQueue& queue, unsigned wanted) {
    std::vector<std::thread> helpers;
    helpers.reserve(wanted);
    try {
        for (unsigned i = 0; i < wanted; ++i) helpers.emplace_back([&queue] { queue.Work(); });
    } catch (const std::system_error&) {
        // Out of threads: the ones already running and the caller carry on.
    }
    return helpers;
}

}  // namespace

unsigned ThreadsFor(unsigned requested, std::size_t count) {
    unsigned threads = requested != 0 ? requested : std::thread::hardware_concurrency();
    if (threads == 0) threads = 1;  // the core count is unknown
    if (count < threads) threads = static_cast<unsigned>(count);
    return threads == 0 ? 1 : threads;
}

void RunSpread(std::size_t count, unsigned threads, const std::function<void(std::size_t)>& job) {
    if (count == 0) return;
    TJobQueue queue(count, job);
    std::vector<std::thread> helpers = StartHelpers(queue, ThreadsFor(threads, count) - 1);
    queue.Work();
    for (std::thread& helper : helpers) helper.join();
    queue.RethrowFailure();
}
