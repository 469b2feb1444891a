#pragma once
// The pause between sent frames, as a timer the event loop runs: one shot,
// restartable, stoppable. The session uses a QTimer; tests step a fake.

#include <functional>
#include <memory>

class IPauseTimer {
public:
    virtual ~IPauseTimer() = default;
    virtual void Start(int milliseconds) = 0;
    virtual void Stop() = 0;
    virtual bool IsActive() const = 0;

    std::function<void()> OnTimeout;
};

std::unique_ptr<IPauseTimer> MakeQtPauseTimer();
