// The job editor and the password lock, driven through the real window.
#include <QComboBox>
#include <QLineEdit>
#include <QTest>

#include "settings/settings.h"
#include "shell/window/job_editor_panel.h"
#include "shell/window/operator_boxes_panel.h"
#include "shell/window/server_fields_panel.h"
#include "window_harness.h"

using vs::test::WindowHarness;

class ParameterEditorTest : public QObject {
    Q_OBJECT

  private slots:
    void rowShowsItsJobWhileLocked();
    void leavingAFieldForAnotherRowStoresIntoTheShownJob();
    void rowChosenWhileAFieldKeepsTheFocus();
    void withoutSelectedJobNothingIsStored();
    void fileTypeAcceptsOnlyItsThreeWordsExactly();
    void wrongOrCancelledPasswordIsSilent();
    void unlockAndLockWithTheScheduleStopped();
    void lockResumesTheScheduleStartedByHand();
    void lockEnablesTheButtonAfterAutomaticStartUp();
};

void ParameterEditorTest::rowShowsItsJobWhileLocked() {
    WindowHarness w;
    auto* jobs = w.form.jobs;
    QCOMPARE(jobs->listdir->count(), 51);
    QCOMPARE(jobs->listdir->item(7)->text(), QStringLiteral("07) /in/fatture"));
    QCOMPARE(jobs->cbofile->currentText(), QStringLiteral("PDFREPORT"));  // design text

    w.clickRow(12);
    QCOMPARE(jobs->Txtdirremota->text(), QStringLiteral("/out/ordini"));
    QCOMPARE(jobs->txtdirlocale->text(), QStringLiteral("/dati/ordini"));
    QCOMPARE(jobs->cbofile->currentText(), QStringLiteral("TUTTI"));
    QCOMPARE(jobs->cbodel->currentText(), QStringLiteral("SI"));
    QCOMPARE(jobs->cbooperazione->currentText(), QStringLiteral("Upload"));
    QCOMPARE(jobs->txtdirlocalebackup->text(), QString());
    QCOMPARE(jobs->cbomoltiplicatore->currentText(), QStringLiteral("10x"));

    // Locked: the fields cannot take the focus or a key.
    QVERIFY(!jobs->Txtdirremota->isEnabled());
    WindowHarness::typeInto(jobs->Txtdirremota, QStringLiteral("/altro"));
    QCOMPARE(jobs->Txtdirremota->text(), QStringLiteral("/out/ordini"));
    QCOMPARE(w.job(12).DirRemota, std::string("/out/ordini"));
}

void ParameterEditorTest::leavingAFieldForAnotherRowStoresIntoTheShownJob() {
    WindowHarness w;
    QVERIFY(w.active);
    auto* jobs = w.form.jobs;
    w.unlock();
    w.clickRow(7);
    WindowHarness::typeInto(jobs->Txtdirremota, QStringLiteral("/in/nuove fatture"));
    WindowHarness::typeInto(jobs->Txtparametri, QStringLiteral("  fat* "));  // leaves dir remota
    w.clickRow(12);

    QCOMPARE(w.job(7).DirRemota, std::string("/in/nuove fatture"));
    QCOMPARE(w.job(7).Dirparametri, std::string("  fat* "));  // unchanged: no trim, no case
    QCOMPARE(jobs->listdir->item(7)->text(), QStringLiteral("07) /in/nuove fatture"));
    QCOMPARE(w.job(12).DirRemota, std::string("/out/ordini"));
    QCOMPARE(jobs->listdir->selectedItems(), {jobs->listdir->item(12)});
    QCOMPARE(jobs->Txtdirremota->text(), QStringLiteral("/out/ordini"));
    QCOMPARE(jobs->Txtparametri->text(), QStringLiteral("ORD"));
}

void ParameterEditorTest::rowChosenWhileAFieldKeepsTheFocus() {
    // A row chosen from the keyboard or by the program, with the focus still in a field.
    WindowHarness w;
    auto* jobs = w.form.jobs;
    w.unlock();
    w.clickRow(7);
    WindowHarness::typeInto(jobs->txtdirlocale, QStringLiteral("/dati/altrove"));
    jobs->listdir->setCurrentRow(12);
    QCOMPARE(w.job(7).DirLocale, std::string("/dati/altrove"));
    QCOMPARE(w.job(12).DirLocale, std::string("/dati/ordini"));
    QCOMPARE(jobs->txtdirlocale->text(), QStringLiteral("/dati/ordini"));
}

void ParameterEditorTest::withoutSelectedJobNothingIsStored() {
    WindowHarness w;
    QVERIFY(w.active);
    auto* jobs = w.form.jobs;
    const vs::JobTable before = w.program->settings.jobTable;
    w.unlock();
    QVERIFY(jobs->listdir->selectedItems().isEmpty());
    WindowHarness::typeInto(jobs->Txtdirremota, QStringLiteral("/x"));
    WindowHarness::typeInto(jobs->cbofile, QStringLiteral("qualsiasi"));
    w.leaveField();
    QCOMPARE(jobs->cbofile->currentText(), QStringLiteral("qualsiasi"));  // not refused either
    for (int n = 0; n < vs::kJobCount; ++n)
        for (int f = 0; f < 8; ++f)
            QCOMPARE(vs::jobField(w.program->settings.jobTable[n], f), vs::jobField(before[n], f));

    // A save leaves no row selected again.
    w.clickRow(7);
    w.form.mnuSblocca_Click();
    QVERIFY(jobs->listdir->selectedItems().isEmpty());
    w.unlock();
    WindowHarness::typeInto(jobs->Txtparametri, QStringLiteral("NUOVO"));
    w.leaveField();
    QCOMPARE(w.job(7).Dirparametri, std::string("FAT*"));
}

void ParameterEditorTest::fileTypeAcceptsOnlyItsThreeWordsExactly() {
    WindowHarness w;
    QVERIFY(w.active);
    auto* cbofile = w.form.jobs->cbofile;
    w.unlock();
    w.clickRow(7);
    WindowHarness::typeInto(cbofile, QStringLiteral("tutti"));
    w.leaveField();
    QCOMPARE(cbofile->currentText(), QString());
    QCOMPARE(w.job(7).TipoFile, std::string("AUTOMAIL"));

    cbofile->setFocus(Qt::TabFocusReason);
    cbofile->setCurrentIndex(cbofile->findText(QStringLiteral("TUTTI")));
    w.leaveField();
    QCOMPARE(w.job(7).TipoFile, std::string("TUTTI"));

    WindowHarness::typeInto(cbofile, QStringLiteral("PDFREPORT "));  // a trailing blank
    w.leaveField();
    QCOMPARE(cbofile->currentText(), QString());
    QCOMPARE(w.job(7).TipoFile, std::string("TUTTI"));
}

void ParameterEditorTest::wrongOrCancelledPasswordIsSilent() {
    WindowHarness w;
    const size_t lines = w.lines().size();
    for (std::optional<std::string> answer :
         {std::optional<std::string>("Lucore"), std::optional<std::string>(),
          std::optional<std::string>(""), std::optional<std::string>("lucore ")}) {
        w.answers.push_back(answer);
        w.form.mnuSblocca_Click();
        QCOMPARE(w.form.mnuSblocca->text(), QStringLiteral("Sblocca Parametri"));
        QVERIFY(!w.form.jobs->Txtdirremota->isEnabled());
        QVERIFY(!w.form.server->txtHost->isEnabled());
        QVERIFY(w.form.Command1->isEnabled());
        QCOMPARE(w.lines().size(), lines);
    }
    QCOMPARE(w.prompts.size(), size_t(4));
    QCOMPARE(w.prompts[0].first, std::string("Immettere password"));
    QCOMPARE(w.prompts[0].second, std::string("Parametri utenti"));
}

void ParameterEditorTest::unlockAndLockWithTheScheduleStopped() {
    WindowHarness w;
    QVERIFY(w.active);
    const size_t lines = w.lines().size();
    w.unlock();
    QCOMPARE(w.form.mnuSblocca->text(), QStringLiteral("Blocca e Salva i Parametri"));
    QCOMPARE(w.lines().size(), lines + 1);
    QCOMPARE(w.lines().back(), std::string("12:00:05 Timer disabilitato "));
    QVERIFY(!w.timer.on);
    QVERIFY(!w.form.Command1->isEnabled());

    w.clickRow(12);
    WindowHarness::typeInto(w.form.jobs->txtdirlocalebackup, QStringLiteral("/dati/bak12"));
    WindowHarness::typeInto(w.form.server->txtHost, QStringLiteral("altro.example.it:2222"));
    WindowHarness::typeInto(w.form.operators->txt_oper_mail[3], QStringLiteral("B7"));
    // Saved straight from the field that still has the focus.
    WindowHarness::typeInto(w.form.jobs->cbodel, QStringLiteral("NO"));

    w.clock.advance(std::chrono::seconds(10));
    w.form.mnuSblocca_Click();
    QCOMPARE(w.form.mnuSblocca->text(), QStringLiteral("Sblocca Parametri"));
    QCOMPARE(w.lines().size(), lines + 1);  // no " Timer abilitato "
    QVERIFY(!w.timer.on);
    QVERIFY(w.form.Command1->isEnabled());
    QVERIFY(!w.form.operators->txt_oper_mail[3]->isEnabled());

    const auto key = [&](const std::string& k) {
        return vs::leggi_chiave_ini("PARAMETRI", k, "?", w.dir / "valtrassosftp.ini");
    };
    QCOMPARE(key("host"), std::string("altro.example.it:2222"));
    QCOMPARE(key("pwd"), std::string("segreta"));
    QCOMPARE(key("DirLocaleBackup_12"), std::string("/dati/bak12"));
    QCOMPARE(key("CancelloFile_12"), std::string("NO"));
    QCOMPARE(key("DirRemota_7"), std::string("/in/fatture"));
    QCOMPARE(key("OperMail_3"), std::string("B7"));
    QCOMPARE(w.program->settings.operatorList, std::string("||A1||B7||C3||"));  // reloaded
    for (const std::string& line : w.lines()) QVERIFY(line.find("lucore") == std::string::npos);
}

void ParameterEditorTest::lockResumesTheScheduleStartedByHand() {
    WindowHarness w;
    QTest::mouseClick(w.form.Command1, Qt::LeftButton);
    QVERIFY(w.timer.on);
    const size_t lines = w.lines().size();
    w.unlock();
    QVERIFY(!w.timer.on);
    QCOMPARE(w.form.Command1->text(), QStringLiteral("Arresta il download"));
    w.form.mnuSblocca_Click();
    QCOMPARE(w.lines().size(), lines + 2);
    QCOMPARE(w.lines().back(), std::string("12:00:05 Timer abilitato "));
    QVERIFY(w.timer.on);
    QVERIFY(w.form.Command1->isEnabled());
}

void ParameterEditorTest::lockEnablesTheButtonAfterAutomaticStartUp() {
    WindowHarness w("mod:auto");
    QVERIFY(!w.form.Command1->isEnabled());
    QVERIFY(w.timer.on);
    const size_t lines = w.lines().size();
    w.unlock();
    w.form.mnuSblocca_Click();
    QCOMPARE(w.lines().size(), lines + 1);  // only " Timer disabilitato "
    QVERIFY(w.form.Command1->isEnabled());
    QCOMPARE(w.form.Command1->text(), QStringLiteral("Avvia il download"));
    QVERIFY(!w.timer.on);
}

QTEST_MAIN(ParameterEditorTest)
#include "parameter_editor_test.moc"
