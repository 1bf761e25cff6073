// The window over a real program in a temporary folder; the clock, the timer, the cycle and the
// end of the process are the test's, so nothing waits, connects or exits.
#include <QApplication>
#include <QTest>

#include "shell/program.h"
#include "shell/program/qt_interval_timer.h"
#include "shell/run_control.h"
#include "shell/window/form1.h"
#include "shell/window/job_editor_panel.h"
#include "shell/window/server_fields_panel.h"
#include "shell/window/tray.h"
#include "shell/window/work_list_panel.h"
#include "support/fake_clock.h"
#include "support/fake_shell.h"
#include "support/temp_dir.h"

namespace vs::test {
namespace {

struct Window {
    Window() {
        writeFile(dir / "valtrassosftp.ini",
                  "[PARAMETRI]\r\nhost=sftp.example.it\r\nDirRemota_7=/in\r\nDirLocale_7=/dati\r\n"
                  "DirRemota_12=/out\r\n");
        program = std::make_unique<Program>(
            clock, ProgramConfig{dir.path(), {}, "", englishWeekdayNames()}, form, timer, nullptr,
            nullptr, [] {}, [this](int code) { ended.push_back(code); });
        program->setCycleEntry([] { return CycleOutcome::NothingToDo; });
        control = std::make_unique<RunControl>(*program);
        form.attach(program.get(), control.get());
        form.setPasswordPrompt([](const std::string&, const std::string&) {
            return std::optional<std::string>("lucore");
        });
        program->Form_Load();
        QApplication::setActiveWindow(&form);
        active = QTest::qWaitForWindowActive(&form);
    }
    // As the operator does it: the focus moves to the field, the text is replaced.
    static void typeInto(QWidget* field, const QString& text) {
        field->setFocus(Qt::TabFocusReason);
        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(field, text);
    }
    void clickRow(int row) {
        QListWidget* list = form.jobs->listdir;
        list->scrollToItem(list->item(row));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(list->item(row)).center());
    }

    TempDir dir;
    FakeClock clock;
    FakeTimer timer;
    std::vector<int> ended;
    bool active = false;
    Form1 form;  // before the program, which keeps a reference to it
    std::unique_ptr<Program> program;
    std::unique_ptr<RunControl> control;
};

}  // namespace
}  // namespace vs::test

class WindowTest : public QObject {
    Q_OBJECT

  private slots:
    // A field is stored into the job it shows when the operator leaves it, also for another
    // row or for the lock, which then saves it.
    void editsReachTheJobAndTheLockSavesThem() {
        vs::test::Window w;
        QVERIFY(w.active);
        auto* jobs = w.form.jobs;
        QVERIFY(!jobs->Txtdirremota->isEnabled());
        w.form.mnuSblocca->trigger();
        QVERIFY(jobs->Txtdirremota->isEnabled());
        w.clickRow(7);
        QCOMPARE(jobs->txtdirlocale->text(), QStringLiteral("/dati"));
        vs::test::Window::typeInto(jobs->Txtdirremota, QStringLiteral("/in/nuove"));
        w.clickRow(12);
        QCOMPARE(w.program->settings.jobTable[7].DirRemota, std::string("/in/nuove"));
        QCOMPARE(jobs->listdir->item(7)->text(), QStringLiteral("07) /in/nuove"));
        QCOMPARE(jobs->Txtdirremota->text(), QStringLiteral("/out"));
        vs::test::Window::typeInto(jobs->txtdirlocale, QStringLiteral("/dati/12"));
        w.form.mnuSblocca->trigger();
        QVERIFY(!jobs->Txtdirremota->isEnabled());
        const auto saved = [&](const char* key) {
            return vs::leggi_chiave_ini("PARAMETRI", key, "", w.dir / "valtrassosftp.ini");
        };
        QCOMPARE(saved("DirRemota_7"), std::string("/in/nuove"));
        QCOMPARE(saved("DirLocale_12"), std::string("/dati/12"));
    }

    void everyWayOutRunsTheOneShutdown() {
        for (const bool fromTheTray : {true, false}) {
            vs::test::Window w;
            if (fromTheTray)
                w.form.tray()->mPopExit()->trigger();
            else
                w.form.close();
            QCOMPARE(w.ended, std::vector<int>{0});
            QVERIFY(!w.form.tray()->shown());
            QVERIFY(vs::test::readFile(w.program->log.todaysFile())
                        .ends_with("\r\n12:00:05 Chiusura Volontaria\r\n"));
            w.form.Form_Terminate();  // the application's end after a close: not a second time
            QCOMPARE(w.ended.size(), size_t(1));
        }
    }

    // "deltatime=0" must not run cycles back to back.
    void aPeriodOfZeroGivesNoTicks() {
        int ticks = 0;
        vs::QtIntervalTimer timer([&ticks] { ++ticks; });
        timer.setInterval(0);
        timer.setEnabled(true);
        QTest::qWait(30);
        QCOMPARE(ticks, 0);
        timer.setInterval(5);
        QTRY_VERIFY(ticks > 0);
    }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
