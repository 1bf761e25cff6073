#include "shell/window/form1.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QTimer>
#include <QVBoxLayout>

#include "shell/program.h"
#include "shell/run_control.h"
#include "shell/window/activity.h"
#include "shell/window/app_icon.h"
#include "shell/window/job_editor_panel.h"
#include "shell/window/operator_boxes_panel.h"
#include "shell/window/qt_italian.h"
#include "shell/window/qt_text.h"
#include "shell/window/server_fields_panel.h"
#include "shell/window/tray.h"
#include "shell/window/whole_text_tips.h"
#include "shell/window/work_list_panel.h"

namespace vs {

// Timer1 and Command1 as the lock switches them: the program's own timer and button state.
class Form1::Schedule final : public ScheduleSwitches {
  public:
    explicit Schedule(Program& program) : program_(program) {}
    void setTimerEnabled(bool enabled) override { program_.Timer1().setEnabled(enabled); }
    void setButtonEnabled(bool enabled) override { program_.Command1.enabled = enabled; }
    std::string buttonCaption() const override { return program_.Command1.caption; }

  private:
    Program& program_;
};

namespace {

QFont buttonFont(const QFont& base) {
    QFont f = base;
    // The nearest heavy face when the intended one is not installed.
    f.setFamilies({QStringLiteral("Arial Black"), QStringLiteral("Arial"),
                   QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    f.setWeight(QFont::Black);
    f.setPointSizeF(base.pointSizeF() + 1);
    return f;
}

std::optional<std::string> askWithInputBox(QWidget* parent, const std::string& prompt,
                                           const std::string& title) {
    bool ok = false;
    const QString answer = QInputDialog::getText(parent, toQt(title), toQt(prompt),
                                                 QLineEdit::Password, QString(), &ok);
    if (!ok) return std::nullopt;
    return fromQt(answer);
}

}  // namespace

Form1::Form1() : tray_(new Tray(this)), qtItalianProblem_(installQtItalian(this)) {
    setWindowTitle(QString::fromLatin1(kProgramName));
    setWindowIcon(appIcon());
    QFont compact = font();
    compact.setPointSizeF(8);
    setFont(compact);

    QMenu* file = menuBar()->addMenu(QStringLiteral("File"));
    mnuSblocca = file->addAction(QString::fromLatin1(kCaptionLocked));
    mnuSblocca->setObjectName(QStringLiteral("mnuSblocca"));
    mnuBreak = file->addAction(QStringLiteral("Termina Trasferimento"));
    mnuBreak->setObjectName(QStringLiteral("mnuBreak"));

    auto* client = new QWidget(this);
    setCentralWidget(client);
    List1 = new QListWidget(client);
    List1->setObjectName(QStringLiteral("List1"));
    server = new ServerFieldsPanel(client);
    Command1 = new QPushButton(QStringLiteral("Avvia il download"), client);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setFont(buttonFont(compact));
    Command1->setMinimumHeight(30);
    work = new WorkListPanel(client);
    jobs = new JobEditorPanel(client);
    operators = new OperatorBoxesPanel(client);

    auto* page = new QVBoxLayout(client);
    page->setContentsMargins(6, 4, 6, 6);
    page->setSpacing(4);

    // Top: the log list on the left, the server fields and the button on the right.
    auto* top = new QHBoxLayout();
    top->setSpacing(8);
    auto* logColumn = new QVBoxLayout();
    logColumn->setSpacing(1);
    logColumn->addWidget(new QLabel(QStringLiteral("Log Operazioni"), client));
    logColumn->addWidget(List1, 1);
    top->addLayout(logColumn, 1);
    auto* serverColumn = new QVBoxLayout();
    serverColumn->setSpacing(4);
    serverColumn->addWidget(server);
    serverColumn->addWidget(Command1);
    serverColumn->addStretch(1);
    server->setFixedWidth(220);
    Command1->setFixedWidth(220);
    top->addLayout(serverColumn);
    // The three lists take what the window gains beyond its starting size, the log most.
    page->addLayout(top, 3);

    // Middle: the counters and the work list.
    page->addWidget(work, 2);

    // Bottom: the job list, then the operator codes above the selected job's fields.
    auto* bottom = new QHBoxLayout();
    bottom->setSpacing(8);
    jobs->listdir->setMinimumWidth(200);
    bottom->addWidget(jobs->listdir, 2);
    auto* editColumn = new QVBoxLayout();
    editColumn->setSpacing(3);
    editColumn->addWidget(operators);
    editColumn->addWidget(jobs->fields);
    editColumn->addStretch(1);
    bottom->addLayout(editColumn, 5);
    page->addLayout(bottom, 3);

    auto* tips = new WholeTextTips(this);
    for (QAbstractItemView* view :
         {static_cast<QAbstractItemView*>(List1), static_cast<QAbstractItemView*>(work->List2),
          static_cast<QAbstractItemView*>(jobs->listdir)})
        tips->watch(view);
    for (QLineEdit* edit : client->findChildren<QLineEdit*>()) tips->watch(edit);

    // The starting size; the operator may make it larger (or smaller, down to what the
    // fields need).
    resize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());

    connect(mnuSblocca, &QAction::triggered, this, [this] { mnuSblocca_Click(); });
    connect(mnuBreak, &QAction::triggered, this, [this] { mnuBreak_Click(); });
    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(tray_->icon(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason r) { trayIcon_Activated(r); });
    connect(tray_->mPopRestore(), &QAction::triggered, this, [this] { mPopRestore_Click(); });
    connect(tray_->mPopExit(), &QAction::triggered, this, [this] { mPopExit_Click(); });
    if (QCoreApplication* app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, [this] { Form_Terminate(); });

    passwordPrompt_ = [this](const std::string& prompt, const std::string& title) {
        return askWithInputBox(this, prompt, title);
    };
}

Form1::~Form1() {
    // The fields must not store into an editor that is already gone while the widgets die.
    jobs->bind(nullptr, nullptr);
}

void Form1::attach(Program* program, RunControl* control) {
    program_ = program;
    control_ = control;
    if (!program_) return;
    schedule_ = std::make_unique<Schedule>(*program_);
    editor_ = std::make_unique<ParameterEditor>(program_->settings, program_->log,
                                                program_->clock(), *schedule_);
    server->bind(&program_->settings.server);
    operators->bind(&program_->settings.txt_oper_mail);
    jobs->bind(editor_.get(), &program_->settings);
    if (!qtItalianProblem_.empty()) program_->log.scrivi_log(qtItalianProblem_);
    // Every line shows as soon as it is written, also in the middle of a cycle. The tray
    // follows the lines too: a cycle's number is known from its first line on.
    program_->log.setChangeListener([this] {
        refreshLog();
        refreshActivity();
    });
    refresh();
}

void Form1::setTrayAvailability(std::function<bool()> available) {
    tray_->setAvailability(std::move(available));
}

void Form1::setCaption(const std::string& caption) {
    setWindowTitle(toQt(caption));
}

void Form1::showWindow() {
    show();
}
void Form1::hideWindow() {
    hide();
}
bool Form1::isMinimized() const {
    return QMainWindow::isMinimized();
}
void Form1::addTrayIcon() {
    tray_->add();
}
void Form1::removeTrayIcon() {
    tray_->remove();
}

void Form1::refresh() {
    if (!program_) return;
    refreshLog();
    Command1->setText(toQt(program_->Command1.caption));
    Command1->setEnabled(program_->Command1.enabled);
    server->showValues(program_->settings.server);
    operators->showValues(program_->settings.txt_oper_mail);
    jobs->refreshList();
    work->showValues(program_->cycleState);
    refreshActivity();

    mnuSblocca->setText(toQt(editor_->mnuSblocca()));
    const bool editable = editor_->unlocked();
    jobs->setEditable(editable);
    operators->setEditable(editable);
    server->setEditable(editable);
}

void Form1::refreshActivity() {
    if (!program_) return;
    const ActivityView activity = activityOf(*program_);
    if (activity.activity != tray_->activity()) setWindowIcon(appIcon(activity.activity));
    tray_->showActivity(activity);
}

void Form1::refreshLog() {
    if (!program_) return;
    const auto& lines = program_->log.List1();
    const int shown = List1->count();
    // The list mirrors the log list, which empties whenever it is written out: start again
    // when the lines on screen are no longer the list's first lines.
    const bool stale = static_cast<size_t>(shown) > lines.size() ||
                       (shown > 0 && List1->item(shown - 1)->text() != toQt(lines[shown - 1]));
    if (stale) List1->clear();
    for (size_t i = static_cast<size_t>(List1->count()); i < lines.size(); ++i)
        List1->addItem(toQt(lines[i]));
    List1->scrollToBottom();
}

void Form1::mnuSblocca_Click() {
    if (!editor_) return;
    // Locking saves: the field being edited is stored first, as leaving it would.
    if (editor_->unlocked()) jobs->validateFocused();
    editor_->mnuSblocca_Click(passwordPrompt_);
    refresh();
}

void Form1::mnuBreak_Click() {
    if (control_) control_->mnuBreak_Click();
}

void Form1::Command1_Click() {
    if (control_) control_->Command1_Click();
    refresh();
}

void Form1::trayIcon_Activated(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
        case QSystemTrayIcon::Trigger:
            restoreWindow();
            break;
        case QSystemTrayIcon::DoubleClick:
            restoreWindow();
            mPopRestore_Click();
            break;
        default:
            // A secondary click: the icon shows mPopupSys itself, at the mouse position.
            break;
    }
}

void Form1::restoreWindow() {
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
}

void Form1::mPopRestore_Click() {
    restoreWindow();
    activateWindow();
}

void Form1::activate() {
    mPopRestore_Click();
}

void Form1::mPopExit_Click() {
    Form_Unload();
}

void Form1::Form_Unload() {
    // Runs once: in a real run the process ends inside it.
    if (shutDown_ || !program_) return;
    shutDown_ = true;
    program_->shutdown();
}

void Form1::Form_Terminate() {
    Form_Unload();
}

void Form1::closeEvent(QCloseEvent* event) {
    Form_Unload();
    event->accept();
}

void Form1::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized() && tray_->available()) {
        // Hidden once the minimise has completed, so that the window manager sees both.
        QTimer::singleShot(0, this, [this] { hideIfMinimized(); });
    }
}

void Form1::hideIfMinimized() {
    if (isMinimized() && tray_->available()) hide();
}

}  // namespace vs
