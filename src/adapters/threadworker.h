#pragma once
// Runs work on threads of its own and hands each continuation back to the
// thread that made the worker, through its Qt event loop.

#include <atomic>
#include <memory>
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
    struct TJob {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> finished;
    };
    void JoinFinished();

    std::vector<TJob> jobs_;
    // Continuations are queued calls on this object: they die with it.
    std::unique_ptr<QObject> context_;
};
