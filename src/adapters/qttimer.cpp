#include "adapters/qttimer.h"

TQtTimer::TQtTimer() {
    timer_.setSingleShot(true);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
        if (OnTimeout) OnTimeout();
    });
}
