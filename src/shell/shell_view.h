#pragma once

#include <string>

namespace vs {

// What start-up, the schedule and shutdown need of the window. The Qt window implements it;
// the headless run implements it with no window at all.
class ShellView {
  public:
    virtual ~ShellView() = default;
    virtual void setCaption(const std::string& caption) = 0;
    virtual void showWindow() = 0;
    virtual void hideWindow() = 0;
    virtual bool isMinimized() const = 0;
    virtual void addTrayIcon() = 0;
    virtual void removeTrayIcon() = 0;
    // The program's state changed (button, counters, lists): redraw what shows it.
    virtual void refresh() = 0;
};

// Timer1: a periodic tick on the program's thread with an on/off switch and a period in
// milliseconds; a period of 0 gives no ticks.
class IntervalTimer {
  public:
    virtual ~IntervalTimer() = default;
    virtual bool enabled() const = 0;
    virtual void setEnabled(bool enabled) = 0;
    virtual int interval() const = 0;
    virtual void setInterval(int milliseconds) = 0;
};

// Command1, the start/stop button.
struct ButtonState {
    bool enabled = true;
    std::string caption = "Avvia il download";
};

}  // namespace vs
