#pragma once

#include <string>

class QObject;

namespace vs {

// Qt's own texts in Italian, as the rest of the window: the buttons of the standard dialogs
// (the password box's "Annulla"), the fields' context menus. The translator belongs to owner
// and leaves the application with it. Returns the start-up line that says why the texts could
// not be loaded, empty when they were.
std::string installQtItalian(QObject* owner);

}  // namespace vs
