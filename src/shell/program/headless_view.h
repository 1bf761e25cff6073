#pragma once

#include "shell/shell_view.h"

namespace vs {

// No window and no tray: the headless run's view.
class HeadlessView final : public ShellView {
  public:
    void setCaption(const std::string&) override {}
    void showWindow() override {}
    void hideWindow() override {}
    bool isMinimized() const override { return false; }
    void addTrayIcon() override {}
    void removeTrayIcon() override {}
    void refresh() override {}
};

}  // namespace vs
