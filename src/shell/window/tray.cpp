#include "shell/window/tray.h"

#include "shell/window/app_icon.h"

namespace vs {

Tray::Tray(QObject* parent)
    : QObject(parent),
      icon_(new QSystemTrayIcon(appIcon(), this)),
      mPopupSys_(new QMenu(QStringLiteral("&Systray"))),
      mPopRestore_(mPopupSys_->addAction(QStringLiteral("&Visualizza Sftp"))),
      mPopExit_(mPopupSys_->addAction(QStringLiteral("&Chiudi Sftp"))) {
    mPopupSys_->setObjectName(QStringLiteral("mPopupSys"));
    mPopRestore_->setObjectName(QStringLiteral("mPopRestore"));
    mPopExit_->setObjectName(QStringLiteral("mPopExit"));
    icon_->setToolTip(QString::fromLatin1(kTrayTip));
    // The icon shows the menu itself on a secondary click, at the mouse position.
    icon_->setContextMenu(mPopupSys_);
}

Tray::~Tray() {
    icon_->setContextMenu(nullptr);
    delete mPopupSys_;
}

void Tray::showActivity(const ActivityView& view) {
    // Refreshed at every change of the window: the icon is redrawn only when it changes.
    if (view.activity != activity_) {
        activity_ = view.activity;
        icon_->setIcon(appIcon(activity_));
    }
    if (icon_->toolTip() != view.tip) icon_->setToolTip(view.tip);
}

void Tray::add() {
    icon_->show();
}

void Tray::remove() {
    icon_->hide();
}

}  // namespace vs
