#pragma once

#include <QTimer>
#include <functional>

#include "shell/shell_view.h"

namespace vs {

// Timer1 on a QTimer: design values disabled and 1000 ms; a period of 0 gives no ticks.
class QtIntervalTimer final : public IntervalTimer {
  public:
    explicit QtIntervalTimer(std::function<void()> onTick);
    bool enabled() const override { return enabled_; }
    void setEnabled(bool enabled) override;
    int interval() const override { return interval_; }
    void setInterval(int milliseconds) override;

  private:
    void apply();
    QTimer timer_;
    bool enabled_ = false;
    int interval_ = 1000;
};

}  // namespace vs
