#include "cli/stallwatch.h"

#include <algorithm>
#include <cstdlib>

namespace {

constexpr int kTickMilliseconds = 5;

}  // namespace

TStallWatch::TStallWatch() {
    tick_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick_, &QTimer::timeout, [this] { Tick(); });
    tick_.start(kTickMilliseconds);
    sinceLastTick_.start();
}

void TStallWatch::Tick() {
    const double elapsedMs = static_cast<double>(sinceLastTick_.nsecsElapsed()) / 1e6;
    sinceLastTick_.restart();
    longestMs_ = std::max(longestMs_, elapsedMs - kTickMilliseconds);
}

bool StallReportWanted() {
    const char* wanted = std::getenv("QUELLMERE_REPORT_STALLS");
    return wanted != nullptr && *wanted != '\0' && *wanted != '0';
}
