#pragma once

#include <QIcon>

#include "shell/window/activity.h"

namespace vs {

// The window's and the tray's icon, drawn at run time so that no image file is needed. Each
// activity has its own colour and, for those who cannot tell the colours apart, its own mark.
QIcon appIcon(Activity activity = Activity::Idle);

}  // namespace vs
