#include "settings/parameter_editor.h"

#include "activitylog/activity_log.h"
#include "common/clock.h"
#include "common/text.h"
#include "settings/settings.h"

namespace vs {

namespace {
constexpr const char* kPassword = "lucore";
}

ParameterEditor::ParameterEditor(Settings& settings, ActivityLog& log, const Clock& clock,
                                 ScheduleSwitches& schedule)
    : settings_(settings), log_(log), clock_(clock), schedule_(schedule) {}

std::optional<int> ParameterEditor::selectedJob() const {
    if (!selectedRow_ || *selectedRow_ < 0 ||
        *selectedRow_ >= static_cast<int>(settings_.listdir.size()))
        return std::nullopt;
    // The row's own text names the job, not its position in the list.
    const auto n = leadingNumber(settings_.listdir[*selectedRow_].substr(0, 2));
    if (!n || *n < 0 || *n >= kJobCount) return std::nullopt;
    return static_cast<int>(*n);
}

std::optional<std::array<std::string, kJobControlCount>> ParameterEditor::listdir_Click(int row) {
    if (row < 0 || row >= static_cast<int>(settings_.listdir.size())) {
        selectedRow_.reset();
        return std::nullopt;
    }
    selectedRow_ = row;
    const auto job = selectedJob();
    if (!job) return std::nullopt;
    std::array<std::string, kJobControlCount> texts;
    for (int f = 0; f < kJobControlCount; ++f) texts[f] = jobField(settings_.jobTable[*job], f);
    return texts;
}

std::string ParameterEditor::validate(JobControl control, const std::string& text) {
    const auto job = selectedJob();
    if (!job) return text;
    const int field = static_cast<int>(control);
    if (control == JobControl::cbofile && text != "TUTTI" && text != "AUTOMAIL" &&
        text != "PDFREPORT")
        return std::string();
    jobField(settings_.jobTable[*job], field) = text;
    settings_.refreshJobCodes(*job);
    if (control == JobControl::Txtdirremota && *job < static_cast<int>(settings_.listdir.size()))
        settings_.listdir[*job] = settings_.listdir[*selectedRow_].substr(0, 4) + text;
    return text;
}

void ParameterEditor::mnuSblocca_Click(const PasswordPrompt& askPassword) {
    if (mnuSblocca_ == kCaptionLocked)
        unlock(askPassword);
    else
        lockAndSave();
}

void ParameterEditor::unlock(const PasswordPrompt& askPassword) {
    const std::optional<std::string> answer =
        askPassword ? askPassword(kPasswordPrompt, kPasswordTitle) : std::nullopt;
    // A wrong or cancelled answer changes nothing and says nothing.
    if (!answer || *answer != kPassword) return;
    mnuSblocca_ = kCaptionUnlocked;
    schedule_.setTimerEnabled(false);
    schedule_.setButtonEnabled(false);
    log_.scrivi_log(timeOfDay(clock_) + " Timer disabilitato ");
}

void ParameterEditor::lockAndSave() {
    mnuSblocca_ = kCaptionLocked;
    settings_.scrivi_ini();
    // The reload rebuilt the job list; no row is selected until the operator clicks one.
    selectedRow_.reset();
    schedule_.setButtonEnabled(true);
    if (schedule_.buttonCaption() == "Arresta il download") {
        log_.scrivi_log(timeOfDay(clock_) + " Timer abilitato ");
        schedule_.setTimerEnabled(true);
    }
}

}  // namespace vs
