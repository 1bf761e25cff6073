#pragma once

#include <string>
#include <vector>

#include "shell/shell_view.h"

namespace vs::test {

// A window that records what start-up and the handlers did to it.
class FakeView final : public ShellView {
  public:
    void setCaption(const std::string& c) override { caption = c; }
    void showWindow() override { events.push_back("show"); }
    void hideWindow() override { events.push_back("hide"); }
    bool isMinimized() const override { return minimized; }
    void addTrayIcon() override { events.push_back("tray+"); }
    void removeTrayIcon() override { events.push_back("tray-"); }
    void refresh() override {}

    std::string caption;
    bool minimized = false;
    std::vector<std::string> events;
};

class FakeTimer final : public IntervalTimer {
  public:
    bool enabled() const override { return on; }
    void setEnabled(bool e) override { on = e; }
    int interval() const override { return period; }
    void setInterval(int ms) override { period = ms; }
    bool on = false;
    int period = 1000;
};

}  // namespace vs::test
