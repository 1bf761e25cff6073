#include "shell/program/qt_interval_timer.h"

namespace vs {

QtIntervalTimer::QtIntervalTimer(std::function<void()> onTick) {
    QObject::connect(&timer_, &QTimer::timeout, [onTick] {
        if (onTick) onTick();
    });
}

void QtIntervalTimer::setEnabled(bool enabled) {
    enabled_ = enabled;
    apply();
}

void QtIntervalTimer::setInterval(int milliseconds) {
    interval_ = milliseconds < 0 ? 0 : milliseconds;
    apply();
}

void QtIntervalTimer::apply() {
    if (enabled_ && interval_ > 0)
        timer_.start(interval_);
    else
        timer_.stop();
}

}  // namespace vs
