#pragma once
// Measures how long the event loop stood still: a coarse timer that notes
// how late each of its ticks came. For benchmarks of the whole program,
// switched on by QUELLMERE_REPORT_STALLS in the environment.

#include <QElapsedTimer>
#include <QTimer>

class TStallWatch {
public:
    TStallWatch();
    // The longest time, in milliseconds, between two turns of the loop
    // beyond the tick's own interval.
    double LongestStallMs() const { return longestMs_; }

private:
    void Tick();

    QTimer tick_;
    QElapsedTimer sinceLastTick_;
    double longestMs_ = 0;
};

// Whether this run should watch and report its stalls.
bool StallReportWanted();
