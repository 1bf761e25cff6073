// The window as a view of the program, the start/stop button, the tray and the shutdown.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include "shell/window/job_editor_panel.h"
#include "shell/window/operator_boxes_panel.h"
#include "shell/window/server_fields_panel.h"
#include "shell/window/tray.h"
#include "shell/window/work_list_panel.h"
#include "window_harness.h"

using vs::test::WindowHarness;

class WindowTest : public QObject {
    Q_OBJECT

  private slots:
    void compositionAndLoadedValues();
    void controlsFollowTheProgram();
    void serverFieldEditsReachTheSettingsAtOnce();
    void startStopButtonAndTimerPeriod();
    void minimiseHidesOnlyWithANotificationArea();
    void iconClicksAndMenuRestoreTheWindow();
    void everyWayOutRunsTheOneShutdown_data();
    void everyWayOutRunsTheOneShutdown();
    void closingInTheMiddleOfACycle();
};

void WindowTest::compositionAndLoadedValues() {
    WindowHarness w;
    QCOMPARE(w.form.centralWidget()->size(), QSize(720, 431));
    QCOMPARE(w.form.server->txtHost->text(), QStringLiteral("sftp.example.it"));
    QCOMPARE(w.form.server->txtPwd->echoMode(), QLineEdit::Password);

    // Operator boxes: index = 4 x row + column.
    const auto& boxes = w.form.operators->txt_oper_mail;
    QCOMPARE(boxes[5]->text(), QStringLiteral("C3"));
    QCOMPARE(boxes[5]->x(), boxes[1]->x());
    QCOMPARE(boxes[5]->y(), boxes[4]->y());
    QVERIFY(boxes[4]->y() > boxes[3]->y());

    // Everything fits the fixed client area; the lists keep room for a few rows.
    const QWidget* client = w.form.centralWidget();
    for (QWidget* c : client->findChildren<QWidget*>()) {
        const QRect r(c->mapTo(client, QPoint(0, 0)), c->size());
        QVERIFY2(!c->isVisible() || client->rect().contains(r), qPrintable(c->objectName()));
    }
    QVERIFY(w.form.work->List2->height() >= 50);
    QVERIFY(w.form.List1->height() >= 100);
}

void WindowTest::controlsFollowTheProgram() {
    WindowHarness w;
    // The log list shows each line as it is written, without waiting for a refresh.
    w.program->log.scrivi_log("12:00:06 riga di prova");
    QCOMPARE(w.form.List1->item(w.form.List1->count() - 1)->text(),
             QStringLiteral("12:00:06 riga di prova"));
    // ...and starts again when the log list is written out to the day's file.
    for (int i = 0; i < 1000; ++i) w.program->log.scrivi_log("riga " + std::to_string(i));
    QCOMPARE(static_cast<size_t>(w.form.List1->count()), w.lines().size());
    QCOMPARE(w.form.List1->item(0)->text(), QString::fromStdString(w.lines().front()));

    auto& state = w.program->cycleState;
    state.List2.add("b.pdf");
    state.List2.add("A.pdf");
    state.totfile = "2";
    state.totfilenonok = "1";
    w.program->view().refresh();
    QCOMPARE(w.form.work->List2->count(), 2);
    QCOMPARE(w.form.work->List2->item(0)->text(), QStringLiteral("A.pdf"));
    QCOMPARE(w.form.work->totfile->text(), QStringLiteral("2"));
    QCOMPARE(w.form.work->totfileok->text(), QStringLiteral("0"));
    QCOMPARE(w.form.work->totfilenonok->text(), QStringLiteral("1"));
    state.List2.removeFirst();
    w.program->view().refresh();
    QCOMPARE(w.form.work->List2->count(), 1);
    QCOMPARE(w.form.work->List2->item(0)->text(), QStringLiteral("b.pdf"));
}

void WindowTest::serverFieldEditsReachTheSettingsAtOnce() {
    // The connection reads them from the settings, also before any save.
    WindowHarness w;
    w.unlock();
    WindowHarness::typeInto(w.form.server->txtLogin, QStringLiteral("nuovo"));
    QCOMPARE(w.program->settings.server.txtLogin, std::string("nuovo"));
    w.form.server->cbotiposerver->setCurrentIndex(1);
    QCOMPARE(w.program->settings.server.cbotiposerver, std::string("Ftp"));
}

void WindowTest::startStopButtonAndTimerPeriod() {
    WindowHarness w;
    auto* cbotime = w.form.server->cbotime;
    w.unlock();
    WindowHarness::typeInto(cbotime, QStringLiteral("15"));
    w.form.mnuSblocca_Click();

    QTest::mouseClick(w.form.Command1, Qt::LeftButton);
    QCOMPARE(w.form.Command1->text(), QStringLiteral("Arresta il download"));
    QVERIFY(w.timer.on);
    QCOMPARE(w.timer.period, 15000);
    QCOMPARE(w.cycles, 1);  // the direct tick found no earlier cycle

    QTest::mouseClick(w.form.Command1, Qt::LeftButton);
    QCOMPARE(w.form.Command1->text(), QStringLiteral("Avvia il download"));
    QVERIFY(!w.timer.on);

    w.unlock();
    WindowHarness::typeInto(cbotime, QStringLiteral("90"));
    w.form.mnuSblocca_Click();
    QTest::mouseClick(w.form.Command1, Qt::LeftButton);
    QCOMPARE(cbotime->currentText(), QStringLiteral("60"));
    QCOMPARE(w.program->settings.server.cbotime, std::string("60"));
    QCOMPARE(w.timer.period, 60000);

    w.form.mnuBreak->trigger();
    QVERIFY(w.program->session.abortRequest);
}

void WindowTest::minimiseHidesOnlyWithANotificationArea() {
    WindowHarness w;
    w.form.showMinimized();
    QTRY_VERIFY(!w.form.isVisible());
    QVERIFY(w.form.tray()->shown());

    WindowHarness without;
    without.trayAvailable = false;
    without.form.showMinimized();
    QTest::qWait(50);
    QVERIFY(without.form.isVisible());  // stays in the task bar
    QVERIFY(without.form.isMinimized());
}

void WindowTest::iconClicksAndMenuRestoreTheWindow() {
    WindowHarness w;
    QCOMPARE(w.form.tray()->icon()->toolTip(), QStringLiteral("Valtrasso Sftp"));
    QMenu* menu = w.form.tray()->mPopupSys();
    QCOMPARE(w.form.tray()->icon()->contextMenu(), menu);
    QCOMPARE(menu->actions(),
             (QList<QAction*>{w.form.tray()->mPopRestore(), w.form.tray()->mPopExit()}));
    QCOMPARE(menu->actions()[0]->text(), QStringLiteral("&Visualizza Sftp"));
    QCOMPARE(menu->actions()[1]->text(), QStringLiteral("&Chiudi Sftp"));

    const auto minimise = [&] {
        w.form.showMinimized();
        QTRY_VERIFY(!w.form.isVisible());
    };
    using R = QSystemTrayIcon::ActivationReason;
    for (R reason : {QSystemTrayIcon::Trigger, QSystemTrayIcon::DoubleClick}) {
        minimise();
        emit w.form.tray()->icon()->activated(reason);
        QVERIFY(w.form.isVisible());
        QVERIFY(!w.form.isMinimized());
    }
    // A secondary click only opens the menu; the window stays where it is.
    minimise();
    emit w.form.tray()->icon()->activated(QSystemTrayIcon::Context);
    QVERIFY(!w.form.isVisible());
    w.form.tray()->mPopRestore()->trigger();
    QVERIFY(w.form.isVisible());
    QVERIFY(!w.form.isMinimized());

    // A second instance brings the window forward.
    minimise();
    w.form.activate();
    QVERIFY(w.form.isVisible());
    QVERIFY(w.ended.empty());
}

void WindowTest::everyWayOutRunsTheOneShutdown_data() {
    QTest::addColumn<int>("way");
    QTest::newRow("Chiudi Sftp") << 0;
    QTest::newRow("close box") << 1;
    QTest::newRow("terminate") << 2;
}

void WindowTest::everyWayOutRunsTheOneShutdown() {
    QFETCH(int, way);
    WindowHarness w;
    QVERIFY(w.form.tray()->shown());
    if (way == 0)
        w.form.tray()->mPopExit()->trigger();
    else if (way == 1)
        w.form.close();
    else
        w.form.Form_Terminate();
    QCOMPARE(w.ended, std::vector<int>{0});
    QVERIFY(!w.form.tray()->shown());
    QVERIFY(w.lines().empty());  // written out
    const std::string file = vs::test::readFile(w.program->log.todaysFile());
    QVERIFY(file.ends_with("\r\n12:00:05 Chiusura Volontaria\r\n"));
    // The application's end after a close does not run it a second time.
    w.form.Form_Terminate();
    QCOMPARE(w.ended.size(), size_t(1));
}

void WindowTest::closingInTheMiddleOfACycle() {
    WindowHarness w;
    w.duringCycle = [&] {
        w.program->log.scrivi_log("12:00:05 trasferimento in corso");
        w.form.tray()->mPopExit()->trigger();
        QCOMPARE(w.ended, std::vector<int>{0});  // ended inside the cycle
    };
    QTest::mouseClick(w.form.Command1, Qt::LeftButton);
    QCOMPARE(w.cycles, 1);
    const std::string file = vs::test::readFile(w.program->log.todaysFile());
    QVERIFY(file.ends_with("trasferimento in corso\r\n12:00:05 Chiusura Volontaria\r\n"));
}

QTEST_MAIN(WindowTest)
#include "window_test.moc"
