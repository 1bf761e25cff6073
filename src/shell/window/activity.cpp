#include "shell/window/activity.h"

#include "shell/program.h"
#include "shell/window/qt_text.h"
#include "shell/window/tray.h"

namespace vs {

namespace {

Activity activityNow(const Program& program) {
    if (program.cycleRunning()) return Activity::Running;
    switch (program.lastOutcome) {
        case CycleOutcome::Errors:
        case CycleOutcome::ConnectFailed:
        case CycleOutcome::ConfigInvalid:
            return Activity::Errors;
        case CycleOutcome::NotRun:
        case CycleOutcome::NothingToDo:
        case CycleOutcome::Clean:
            break;
    }
    return Activity::Idle;
}

}  // namespace

ActivityView activityOf(const Program& program) {
    ActivityView view;
    view.activity = activityNow(program);
    QStringList lines{QString::fromLatin1(kTrayTip)};
    switch (view.activity) {
        case Activity::Idle:
            lines << QStringLiteral("In attesa");
            break;
        case Activity::Running:
            lines << QStringLiteral("Ciclo %1 in corso").arg(program.cycleState.cycleCounter);
            break;
        case Activity::Errors:
            lines << QStringLiteral("Ultimo ciclo con errori");
            break;
    }
    // The date too: an unattended program may have failed since yesterday.
    if (program.lastCleanCycle)
        lines << QStringLiteral("Ultimo ciclo senza errori: ") +
                     toQt(formatGeneralDateTime(toLocalTime(*program.lastCleanCycle)));
    else if (view.activity == Activity::Errors)
        lines << QStringLiteral("Nessun ciclo senza errori dall'avvio");
    // The reason of the failure, which the log shows among many other lines.
    if (view.activity == Activity::Errors && program.cycle) {
        const std::string& reason = program.cycle->lastReport().lastErrorLine;
        if (!reason.empty()) lines << toQt(reason).trimmed();
    }
    view.tip = lines.join(QLatin1Char('\n'));
    return view;
}

}  // namespace vs
