#pragma once

#include <QListWidget>
#include <QMainWindow>
#include <QSystemTrayIcon>

#include "shell/shell_view.h"

namespace vs {

class Program;
class RunControl;

// The program's window. It is a view of the program's state and hands the operator's actions
// to it.
class Form1 final : public QMainWindow, public ShellView {
public:
    Form1();
    void attach(Program* program, RunControl* control) {
        program_ = program;
        control_ = control;
    }

    void setCaption(const std::string& caption) override;
    void showWindow() override;
    void hideWindow() override;
    bool isMinimized() const override;
    void addTrayIcon() override;
    void removeTrayIcon() override;
    void refresh() override;

    // Brought forward when a second instance starts.
    void activate();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    Program* program_ = nullptr;
    RunControl* control_ = nullptr;
    QListWidget* List1_ = nullptr;
    QSystemTrayIcon* tray_ = nullptr;
};

}  // namespace vs
