#pragma once

#include <QIcon>

namespace vs {

// The window's and the tray's icon, drawn at run time so that no image file is needed.
QIcon appIcon();

}  // namespace vs
