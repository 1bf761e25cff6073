#pragma once

#include <QAction>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>
#include <functional>

#include "shell/window/activity.h"

namespace vs {

inline constexpr const char* kTrayTip = "Valtrasso Sftp";

// The notification-area icon and its pop-up menu mPopupSys. The window decides what the
// icon's clicks and the menu's entries do.
class Tray final : public QObject {
  public:
    explicit Tray(QObject* parent);
    ~Tray() override;

    void add();
    void remove();
    bool shown() const { return icon_->isVisible(); }
    // The icon and the tooltip follow what the program is doing.
    void showActivity(const ActivityView& view);
    Activity activity() const { return activity_; }

    // Whether the desktop has a notification area. Without one a hidden window could never be
    // brought back, so minimising must not hide it. Replaceable for tests.
    bool available() const { return available_ ? available_() : false; }
    void setAvailability(std::function<bool()> available) { available_ = std::move(available); }

    QSystemTrayIcon* icon() const { return icon_; }
    QMenu* mPopupSys() const { return mPopupSys_; }
    QAction* mPopRestore() const { return mPopRestore_; }
    QAction* mPopExit() const { return mPopExit_; }

  private:
    QSystemTrayIcon* icon_;
    QMenu* mPopupSys_;  // a top-level menu: it belongs to the icon, not to the menu bar
    QAction* mPopRestore_;
    QAction* mPopExit_;
    Activity activity_ = Activity::Idle;
    std::function<bool()> available_ = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
};

}  // namespace vs
