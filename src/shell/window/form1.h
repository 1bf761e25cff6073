#pragma once

#include <QAction>
#include <QListWidget>
#include <QMainWindow>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <functional>
#include <memory>

#include "settings/parameter_editor.h"
#include "shell/shell_view.h"

namespace vs {

class JobEditorPanel;
class OperatorBoxesPanel;
class Program;
class RunControl;
class ServerFieldsPanel;
class Tray;
class WorkListPanel;

// The program's window. It shows the program's state (log list, server fields, job list,
// operator codes, work list and counters, start/stop button) and hands the operator's actions
// to the program; it keeps no state of its own beyond what the widgets show.
class Form1 final : public QMainWindow, public ShellView {
  public:
    // The client area's starting size; the window may be resized.
    static constexpr int kClientWidth = 720;
    static constexpr int kClientHeight = 431;

    Form1();
    ~Form1() override;

    // Wires the window to the program; the program must outlive the window's use of it.
    void attach(Program* program, RunControl* control);

    void setCaption(const std::string& caption) override;
    void showWindow() override;
    void hideWindow() override;
    bool isMinimized() const override;
    void addTrayIcon() override;
    void removeTrayIcon() override;
    void refresh() override;

    // Brought forward when a second instance starts.
    void activate();

    // The operator's actions.
    void mnuSblocca_Click();
    void mnuBreak_Click();
    void Command1_Click();
    void trayIcon_Activated(QSystemTrayIcon::ActivationReason reason);
    void mPopRestore_Click();
    void mPopExit_Click();
    // Closing the window and the application's end: both run the one shutdown.
    void Form_Unload();
    void Form_Terminate();

    // The password box (tests answer it themselves).
    void setPasswordPrompt(PasswordPrompt prompt) { passwordPrompt_ = std::move(prompt); }
    // Whether a notification area exists (tests choose).
    void setTrayAvailability(std::function<bool()> available);

    ParameterEditor* editor() const { return editor_.get(); }
    Tray* tray() const { return tray_; }

    QListWidget* List1 = nullptr;
    ServerFieldsPanel* server = nullptr;
    QPushButton* Command1 = nullptr;
    WorkListPanel* work = nullptr;
    JobEditorPanel* jobs = nullptr;
    OperatorBoxesPanel* operators = nullptr;
    QAction* mnuSblocca = nullptr;
    QAction* mnuBreak = nullptr;

  protected:
    void closeEvent(QCloseEvent* event) override;
    // Form_Resize: a minimised window leaves the screen and the task bar for the icon.
    void changeEvent(QEvent* event) override;

  private:
    class Schedule;

    void refreshLog();
    // The tray's icon and tooltip, and the window's icon, after what the program is doing.
    void refreshActivity();
    void restoreWindow();
    void hideIfMinimized();

    Program* program_ = nullptr;
    RunControl* control_ = nullptr;
    std::unique_ptr<Schedule> schedule_;
    std::unique_ptr<ParameterEditor> editor_;
    Tray* tray_;
    PasswordPrompt passwordPrompt_;
    std::string qtItalianProblem_;  // logged once the window has a log
    bool shutDown_ = false;
};

}  // namespace vs
