#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>

#include "settings/job_table.h"

namespace vs {

class ActivityLog;
class Clock;
class Settings;

inline constexpr const char* kCaptionLocked = "Sblocca Parametri";
inline constexpr const char* kCaptionUnlocked = "Blocca e Salva i Parametri";
inline constexpr const char* kPasswordPrompt = "Immettere password";
inline constexpr const char* kPasswordTitle = "Parametri utenti";

// What the lock switches of the schedule: Timer1 and Command1 live with the shell, above this
// folder, so the editor reaches them through this small interface.
class ScheduleSwitches {
  public:
    virtual ~ScheduleSwitches() = default;
    virtual void setTimerEnabled(bool enabled) = 0;
    virtual void setButtonEnabled(bool enabled) = 0;
    virtual std::string buttonCaption() const = 0;
};

// The eight controls of the selected job, in the order of the job's fields (kJobKeyStems).
enum class JobControl {
    Txtdirremota,
    txtdirlocale,
    cbofile,
    cbodel,
    cbooperazione,
    txtdirlocalebackup,
    cbomoltiplicatore,
    Txtparametri,
};
inline constexpr int kJobControlCount = 8;

// Asks the operator for the password; empty when the box was cancelled.
using PasswordPrompt =
    std::function<std::optional<std::string>(const std::string& prompt, const std::string& title)>;

// The job list's selection, the storing of job edits and the password lock, without widgets.
// The window shows what this decides and hands it the operator's actions.
class ParameterEditor {
  public:
    ParameterEditor(Settings& settings, ActivityLog& log, const Clock& clock,
                    ScheduleSwitches& schedule);

    // listdir_Click: the row becomes the selected one; returns the texts of the eight job
    // controls for the job it names (nothing when the row names no job).
    std::optional<std::array<std::string, kJobControlCount>> listdir_Click(int row);
    // No row selected (start-up, and after every save).
    void clearSelection() { selectedRow_.reset(); }
    std::optional<int> selectedRow() const { return selectedRow_; }
    // The job named by the first two characters of the selected row.
    std::optional<int> selectedJob() const;

    // The Validate handlers: the control is being left with this text. Returns the text the
    // control shows afterwards (the file-type box is emptied when its text is refused).
    std::string validate(JobControl control, const std::string& text);
    std::string Txtdirremota_Validate(const std::string& t) {
        return validate(JobControl::Txtdirremota, t);
    }
    std::string txtdirlocale_Validate(const std::string& t) {
        return validate(JobControl::txtdirlocale, t);
    }
    std::string cbofile_Validate(const std::string& t) { return validate(JobControl::cbofile, t); }
    std::string cbodel_Validate(const std::string& t) { return validate(JobControl::cbodel, t); }
    std::string cbooperazione_Validate(const std::string& t) {
        return validate(JobControl::cbooperazione, t);
    }
    std::string txtdirlocalebackup_Validate(const std::string& t) {
        return validate(JobControl::txtdirlocalebackup, t);
    }
    std::string cbomoltiplicatore_Validate(const std::string& t) {
        return validate(JobControl::cbomoltiplicatore, t);
    }
    std::string Txtparametri_Validate(const std::string& t) {
        return validate(JobControl::Txtparametri, t);
    }

    // mnuSblocca_Click: unlocks after the right password, or locks and saves.
    void mnuSblocca_Click(const PasswordPrompt& askPassword);
    bool unlocked() const { return mnuSblocca_ == kCaptionUnlocked; }
    // The lock state is the menu entry's caption.
    const std::string& mnuSblocca() const { return mnuSblocca_; }

  private:
    void unlock(const PasswordPrompt& askPassword);
    void lockAndSave();

    Settings& settings_;
    ActivityLog& log_;
    const Clock& clock_;
    ScheduleSwitches& schedule_;
    std::optional<int> selectedRow_;
    std::string mnuSblocca_ = kCaptionLocked;
};

}  // namespace vs
