#pragma once

#include <string>

#include "shell/shell_view.h"

namespace vs::test {

// A window with nothing to show.
class FakeView final : public ShellView {
  public:
    void setCaption(const std::string&) override {}
    void showWindow() override {}
    void hideWindow() override {}
    bool isMinimized() const override { return false; }
    void addTrayIcon() override {}
    void removeTrayIcon() override {}
    void refresh() override {}
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
