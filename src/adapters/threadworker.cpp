#include "adapters/threadworker.h"

#include <algorithm>

#include <QMetaObject>

TThreadWorker::TThreadWorker() : context_(std::make_unique<QObject>()) {}

TThreadWorker::~TThreadWorker() {
    for (TJob& job : jobs_)
        job.thread.join();
    context_.reset();
}

void TThreadWorker::Run(std::function<std::function<void()>()> work) {
    JoinFinished();
    QObject* const context = context_.get();
    auto finished = std::make_shared<std::atomic<bool>>(false);
    std::thread thread([context, finished, work = std::move(work)] {
        std::function<void()> continuation = work();
        QMetaObject::invokeMethod(context, std::move(continuation), Qt::QueuedConnection);
        finished->store(true);
    });
    jobs_.push_back({std::move(thread), std::move(finished)});
}

void TThreadWorker::JoinFinished() {
    // Threads that are done are joined as new work comes, so they do not pile up.
    const auto done = std::partition(jobs_.begin(), jobs_.end(), [](const TJob& job) { return !job.finished->load(); });
    for (auto job = done; job != jobs_.end(); ++job)
        job->thread.join();
    jobs_.erase(done, jobs_.end());
}
