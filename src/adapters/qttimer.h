#pragma once
// A one-shot QTimer on the thread that made it.

#include <QTimer>

#include "session/environment.h"

class TQtTimer final : public ITimer {
public:
    TQtTimer();

    void Start(int milliseconds) override { timer_.start(milliseconds); }
    void Stop() override { timer_.stop(); }
    bool IsActive() const override { return timer_.isActive(); }

private:
    QTimer timer_;
};
