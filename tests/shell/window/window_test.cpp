// The window over a real program in a temporary folder; the clock, the timer, the cycle and the
// end of the process are the test's, so nothing waits, connects or exits.
#include <QApplication>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>
#include <map>

#include "shell/program.h"
#include "shell/program/qt_interval_timer.h"
#include "shell/run_control.h"
#include "shell/window/form1.h"
#include "shell/window/job_editor_panel.h"
#include "shell/window/operator_boxes_panel.h"
#include "shell/window/qt_text.h"
#include "shell/window/server_fields_panel.h"
#include "shell/window/tray.h"
#include "shell/window/whole_text_tips.h"
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

    // Every control and caption of the client area.
    std::vector<QWidget*> controls() {
        const vs::ServerFieldsPanel* s = form.server;
        const vs::WorkListPanel* k = form.work;
        std::vector<QWidget*> all{form.List1,       form.Command1, s->txtHost,
                                  s->txtLogin,      s->txtPwd,     s->cbotime,
                                  s->cbotiposerver, k->totfile,    k->totfileok,
                                  k->totfilenonok,  k->List2,      form.jobs->listdir};
        for (int c = 0; c < kJobControlCount; ++c)
            all.push_back(form.jobs->control(static_cast<JobControl>(c)));
        for (QLineEdit* box : form.operators->txt_oper_mail) all.push_back(box);
        for (QLabel* caption : form.centralWidget()->findChildren<QLabel*>())
            all.push_back(caption);
        return all;
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
        w.form.mnuSblocca->trigger();  // the field being edited is stored before the save
        QVERIFY(!jobs->Txtdirremota->isEnabled());
        QCOMPARE(vs::leggi_chiave_ini("PARAMETRI", "DirLocale_12", "", w.dir / "valtrassosftp.ini"),
                 std::string("/dati/12"));
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

    // The window at its starting size and larger, idle, in a cycle and after a failed one.
    // The grabs go to VALTRASSO_SCREENSHOTS when it names a folder (to look at them).
    void screenshotsAtTwoSizesAndThreeActivities() {
        vs::test::Window w;
        const QString longLine =
            QStringLiteral("12:00:05 Collegamento  2 ****** ERRORE **** 30006 Accesso negato: ") +
            QString(120, QLatin1Char('x'));
        for (int i = 0; i < 40; ++i)
            w.program->log.scrivi_log("12:00:05 riga " + std::to_string(i));
        w.program->log.scrivi_log(vs::fromQt(longLine));
        for (int i = 0; i < 30; ++i) w.program->cycleState.List2.add("coda " + std::to_string(i));
        const QString longPath = QStringLiteral("/dati/") + QString(60, QLatin1Char('p'));
        w.program->settings.jobTable[0].DirRemota = vs::fromQt(longPath);
        w.program->settings.listdir[0] = "00) " + vs::fromQt(longPath);
        w.clickRow(0);
        w.form.refresh();
        const QSize start(vs::Form1::kClientWidth, vs::Form1::kClientHeight);
        QCOMPARE(w.form.centralWidget()->size(), start);

        const QString out = qEnvironmentVariable("VALTRASSO_SCREENSHOTS",
                                                 QString::fromStdString(w.dir.path().string()));
        std::map<QString, QImage> icons;
        std::map<QString, QString> tips;
        const auto look = [&](const QString& activity) {
            std::map<QWidget*, QRect> atStart;
            for (const QSize client : {start, QSize(1280, 860)}) {
                w.form.resize(client.width(), client.height() + w.form.menuBar()->height());
                QTRY_COMPARE(w.form.centralWidget()->size(), client);
                const std::vector<QWidget*> controls = w.controls();
                for (QWidget* c : controls) {
                    const QRect r(c->mapTo(w.form.centralWidget(), QPoint()), c->size());
                    QVERIFY2(c->isVisible() && QRect(QPoint(), client).contains(r),
                             qPrintable(c->objectName()));
                    for (QWidget* other : controls)
                        if (other < c)
                            QVERIFY2(
                                !r.intersects(QRect(other->mapTo(w.form.centralWidget(), QPoint()),
                                                    other->size())),
                                qPrintable(c->objectName() + " " + other->objectName()));
                    if (client == start) atStart[c] = r;
                }
                const QString name = QStringLiteral("%1/window-%2-%3x%4.png")
                                         .arg(out, activity)
                                         .arg(client.width())
                                         .arg(client.height());
                QVERIFY(w.form.grab().save(name));
            }
            // The three lists take what the window gains; the log the most, across too.
            QVERIFY(w.form.List1->height() >= atStart[w.form.List1].height() + 150);
            QVERIFY(w.form.List1->width() >= atStart[w.form.List1].width() + 400);
            QVERIFY(w.form.work->List2->height() >= atStart[w.form.work->List2].height() + 100);
            QVERIFY(w.form.jobs->listdir->height() >= atStart[w.form.jobs->listdir].height() + 100);
            icons[activity] = w.form.tray()->icon()->icon().pixmap(32).toImage();
            icons[activity].save(QStringLiteral("%1/tray-%2.png").arg(out, activity));
            tips[activity] = w.form.tray()->icon()->toolTip();
        };

        look(QStringLiteral("idle"));
        w.program->settings.unusable.clear();  // the cycle is replaced: nothing it needs
        w.program->setCycleEntry([&] {
            ++w.program->cycleState.cycleCounter;
            w.program->log.scrivi_log(" Ciclo 1");  // the tray follows the cycle's first line
            look(QStringLiteral("running"));
            return vs::CycleOutcome::Clean;
        });
        w.program->collegamento();
        w.clock.advance(std::chrono::seconds(60));
        w.program->setCycleEntry([] { return vs::CycleOutcome::ConnectFailed; });
        w.program->collegamento();
        look(QStringLiteral("errors"));
        if (QTest::currentTestFailed()) return;
        QCOMPARE(tips["idle"], QStringLiteral("Valtrasso Sftp\nIn attesa"));
        QCOMPARE(tips["running"], QStringLiteral("Valtrasso Sftp\nCiclo 1 in corso"));
        QCOMPARE(tips["errors"], QStringLiteral("Valtrasso Sftp\nUltimo ciclo con errori\n"
                                                "Ultimo ciclo senza errori: 16/10/2009 12:00:05"));
        QVERIFY(icons["idle"] != icons["running"] && icons["running"] != icons["errors"] &&
                icons["idle"] != icons["errors"]);

        // At the starting size the long line and the long path show whole only in a tooltip;
        // short ones need none.
        w.form.resize(start.width(), start.height() + w.form.menuBar()->height());
        QTRY_COMPARE(w.form.centralWidget()->size(), start);
        QListWidget* log = w.form.List1;
        const auto tipOf = [log](const QString& line) {
            QListWidgetItem* item = log->findItems(line, Qt::MatchExactly).value(0);
            log->scrollToItem(item);
            return vs::WholeTextTips::hiddenText(log, log->visualItemRect(item).center());
        };
        QCOMPARE(tipOf(longLine), longLine);
        QCOMPARE(tipOf(QStringLiteral("12:00:05 riga 39")), QString());
        QCOMPARE(vs::WholeTextTips::hiddenText(w.form.jobs->Txtdirremota), longPath);
        QCOMPARE(vs::WholeTextTips::hiddenText(w.form.jobs->txtdirlocale), QString());
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
