#include "adapters/threadworker.h"

#include <QMetaObject>

namespace {

// RSA work spreads over the cores by itself; two threads let a key be made
// while other work goes on.
constexpr int kThreads = 2;

}  // namespace

TThreadWorker::TThreadWorker() : context_(std::make_unique<QObject>()) {
    for (int i = 0; i < kThreads; ++i) threads_.emplace_back([this] { Serve(); });
}

TThreadWorker::~TThreadWorker() {
    {
        // Work not yet begun is dropped; work under way is waited for.
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        queue_.clear();
    }
    wake_.notify_all();
    for (std::thread& thread : threads_) thread.join();
    context_.reset();
}

void TThreadWorker::Run(std::function<std::function<void()>()> work) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(std::move(work));
    }
    wake_.notify_one();
}

void TThreadWorker::Serve() {
    QObject* const context = context_.get();
    for (;;) {
        std::function<std::function<void()>()> work;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (stopping_) return;
            work = std::move(queue_.front());
            queue_.pop_front();
        }
        std::function<void()> continuation = work();
        QMetaObject::invokeMethod(context, std::move(continuation), Qt::QueuedConnection);
    }
}
