#include "shell/app/form1.h"

#include <QCloseEvent>
#include <QPainter>
#include <QPixmap>

#include "shell/app/app_icon.h"
#include "shell/program.h"

namespace vs {

Form1::Form1() {
    setWindowTitle(QString::fromLatin1(kProgramName));
    List1_ = new QListWidget(this);
    setCentralWidget(List1_);
    resize(720, 431);
    setWindowIcon(appIcon());
}

void Form1::setCaption(const std::string& caption) {
    setWindowTitle(QString::fromLocal8Bit(caption.c_str()));
}

void Form1::showWindow() { show(); }
void Form1::hideWindow() { hide(); }
bool Form1::isMinimized() const { return QMainWindow::isMinimized(); }

void Form1::addTrayIcon() {
    if (!tray_) tray_ = new QSystemTrayIcon(appIcon(), this);
    tray_->setToolTip(QStringLiteral("Valtrasso Sftp"));
    tray_->show();
}

void Form1::removeTrayIcon() {
    if (tray_) tray_->hide();
}

void Form1::refresh() {
    if (!program_) return;
    const auto& lines = program_->log.List1();
    // The list mirrors the log list: trim what was written out, append what is new.
    if (static_cast<size_t>(List1_->count()) > lines.size()) List1_->clear();
    for (size_t i = static_cast<size_t>(List1_->count()); i < lines.size(); ++i)
        List1_->addItem(QString::fromLocal8Bit(lines[i].c_str()));
    List1_->scrollToBottom();
}

void Form1::activate() {
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void Form1::closeEvent(QCloseEvent* event) {
    if (program_) program_->shutdown();
    event->accept();
}

}  // namespace vs
