#include "adapters/systemclock.h"

#include <QLocale>
#include <QTime>

std::string TSystemClock::LongTimeText() {
    // The long format without its time-zone name: "11:01:04", or "11:01:04 AM".
    QString format = QLocale::system().timeFormat(QLocale::LongFormat);
    format.remove(QLatin1Char('t'));
    return QTime::currentTime().toString(format.trimmed()).toStdString();
}
