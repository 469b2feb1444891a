#pragma once
// Runs work on threads of its own and hands each continuation back to the
// thread that made the worker, through its Qt event loop. The threads live as
// long as the worker: a file transfer hands it hundreds of batches a second.

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <QObject>

#include "session/environment.h"

class TThreadWorker final : public IWorker {
public:
    TThreadWorker();
    ~TThreadWorker() override;

    void Run(std::function<std::function<void()>()> work) override;

private:
    void Serve();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<std::function<void()>()>> queue_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
    // Continuations are queued calls on this object: they die with it.
    std::unique_ptr<QObject> context_;
};
