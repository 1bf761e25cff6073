#pragma once

#include <QApplication>
#include <QListWidget>
#include <QTest>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "shell/window/form1.h"
#include "shell/fake_shell.h"
#include "shell/program.h"
#include "shell/run_control.h"
#include "support/fake_clock.h"
#include "support/temp_dir.h"

namespace vs::test {

// A settings file with two jobs and two operator codes; every other job is empty.
inline std::string sampleSettings() {
    return "[PARAMETRI]\r\n"
           "host=sftp.example.it\r\nlogin=valtrasso\r\npwd=segreta\r\ndeltatime=20\r\n"
           "tiposerver=Sftp\r\n"
           "DirRemota_7=/in/fatture\r\nDirLocale_7=/dati/fatture\r\nTipoFile_7=AUTOMAIL\r\n"
           "CancelloFile_7=NO\r\nTipoOperazione_7=Download\r\nDirLocaleBackup_7=/dati/bak\r\n"
           "Dirmoltiplicatore_7=2x\r\nDirparametri_7=FAT*\r\n"
           "DirRemota_12=/out/ordini\r\nDirLocale_12=/dati/ordini\r\nTipoFile_12=TUTTI\r\n"
           "CancelloFile_12=SI\r\nTipoOperazione_12=Upload\r\nDirLocaleBackup_12=\r\n"
           "Dirmoltiplicatore_12=10x\r\nDirparametri_12=ORD\r\n"
           "OperMail_0=A1\r\nOperMail_5=C3\r\n";
}

// The real window over a real program in a temporary program folder. The clock, the timer,
// the cycle and the end of the process are the test's, so nothing waits, connects or exits.
struct WindowHarness {
    explicit WindowHarness(const std::string& args = "") {
        writeFile(dir / "valtrassosftp.ini", sampleSettings());
        ProgramConfig config{dir.path(), {}, args, englishWeekdayNames()};
        program = std::make_unique<Program>(
            clock, config, form, timer, nullptr, nullptr, [] {},
            [this](int code) { ended.push_back(code); });
        program->setCycleEntry([this] {
            ++cycles;
            if (duringCycle) duringCycle();
            return CycleOutcome::NothingToDo;
        });
        control = std::make_unique<RunControl>(*program);
        form.attach(program.get(), control.get());
        form.setPasswordPrompt([this](const std::string& prompt, const std::string& title) {
            prompts.emplace_back(prompt, title);
            std::optional<std::string> a;
            if (!answers.empty()) {
                a = answers.front();
                answers.pop_front();
            }
            return a;
        });
        form.setTrayAvailability([this] { return trayAvailable; });
        program->Form_Load();
        QApplication::setActiveWindow(&form);
        active = QTest::qWaitForWindowActive(&form);
    }

    const std::deque<std::string>& lines() const { return program->log.List1(); }
    const TransferJob& job(int n) const { return program->settings.jobTable[n]; }

    void unlock() {
        answers.push_back("lucore");
        form.mnuSblocca_Click();
    }

    // Clicks a row of the job list as the operator does: the focus moves first.
    void clickRow(int row) {
        QListWidget* list = form.jobs->listdir;
        list->scrollToItem(list->item(row));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(list->item(row)).center());
    }

    // Types into a field that takes the focus first, replacing its text.
    static void typeInto(QWidget* field, const QString& text) {
        field->setFocus(Qt::TabFocusReason);
        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(field, Qt::Key_Delete);
        QTest::keyClicks(field, text);
    }

    // Somewhere to move the focus to that is not a job field.
    void leaveField() { form.List1->setFocus(Qt::TabFocusReason); }

    TempDir dir;
    FakeClock clock;
    FakeTimer timer;
    std::vector<int> ended;  // exit codes handed to the end of the process
    int cycles = 0;
    std::function<void()> duringCycle;
    bool trayAvailable = true;
    bool active = false;  // the focus moves between fields only in an active window
    std::deque<std::optional<std::string>> answers;  // the password box's answers, in turn
    std::vector<std::pair<std::string, std::string>> prompts;
    // The window before the program, which keeps a reference to it.
    Form1 form;
    std::unique_ptr<Program> program;
    std::unique_ptr<RunControl> control;
};

}  // namespace vs::test
