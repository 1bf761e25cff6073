#pragma once

#include <QString>

namespace vs {

class Program;

// What the program is doing, as the tray shows it at a glance.
enum class Activity {
    Idle,     // waiting for the next cycle; the last one, if any, ended without errors
    Running,  // a cycle is under way
    Errors,   // the last cycle ended with errors or could not connect
};

struct ActivityView {
    Activity activity = Activity::Idle;
    // The tray's tooltip: the program's name, the activity, when the last cycle without errors
    // ended and, after a failed cycle, its last error line.
    QString tip;
};

ActivityView activityOf(const Program& program);

}  // namespace vs
