#include "adapters/systemclock.h"

#include <QLocale>
#include <QTime>

#include <algorithm>
#include <ctime>

namespace {

// The long format without its time-zone name: "11:01:04", or "11:01:04 AM".
QString LongTimeFormat() {
    QString format = QLocale::system().timeFormat(QLocale::LongFormat);
    format.remove(QLatin1Char('t'));
    return format.trimmed();
}

}  // namespace

std::string TSystemClock::LongTimeText() {
    static const QString format = LongTimeFormat();
    // localtime_r reads the zone once; asking Qt for the current time looks
    // at the zone's file again for every chat line.
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    // A leap second shows as the second before it.
    return QTime(local.tm_hour, local.tm_min, std::min(local.tm_sec, 59)).toString(format).toStdString();
}
