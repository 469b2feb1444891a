#include "session/pausetimer.h"

#include <QTimer>

namespace {

class TQtPauseTimer final : public IPauseTimer {
public:
    TQtPauseTimer()
    {
        timer_.setSingleShot(true);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (OnTimeout)
                OnTimeout();
        });
    }

    void Start(int milliseconds) override { timer_.start(milliseconds); }
    void Stop() override { timer_.stop(); }
    bool IsActive() const override { return timer_.isActive(); }

private:
    QTimer timer_;
};

} // namespace

std::unique_ptr<IPauseTimer> MakeQtPauseTimer()
{
    return std::make_unique<TQtPauseTimer>();
}
