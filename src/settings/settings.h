#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "settings/job_table.h"
#include "settings/settings_check.h"
#include "settings/settings_problem.h"

namespace vs {

class ActivityLog;
class Clock;

inline constexpr const char* kSettingsSection = "PARAMETRI";
inline constexpr int kDefaultSettleSeconds = 5;
inline constexpr int kMaxSettleSeconds = 86400;
inline constexpr std::chrono::milliseconds kDefaultFetchPause{100};
inline constexpr std::int64_t kMaxBandwidthKiB = 10'000'000;
inline constexpr std::int64_t kMaxFetchPauseMs = 60'000;

// The server fields: texts of the window's controls, read by whoever needs them when needed.
struct ServerFields {
    std::string txtHost;  // host, optionally ":" and a port
    std::string txtLogin;
    std::string txtPwd;
    std::string cbotime;        // cycle interval in seconds, as text
    std::string cbotiposerver;  // "Sftp" or "Ftp"
};

// The whole configuration in memory: server fields, job table, job list, operator boxes and
// the values derived from them at each load.
class Settings {
  public:
    Settings(ActivityLog& log, const Clock& clock);

    // The file to load, and every place where it was looked for (said when none was there).
    void setSettingsPath(std::filesystem::path path,
                         std::vector<std::filesystem::path> lookedAt = {}) {
        settingsPath_ = std::move(path);
        lookedAt_ = std::move(lookedAt);
    }
    const std::filesystem::path& settingsPath() const { return settingsPath_; }
    const std::vector<std::filesystem::path>& lookedAt() const { return lookedAt_; }

    // Loads the settings file into every place below, and checks what it loaded.
    void leggi_ini();
    // Called after every load (the program says what it understood).
    void setAfterLoad(std::function<void()> afterLoad) { afterLoad_ = std::move(afterLoad); }
    // Saves all 425 keys in one atomic write, then loads the file again.
    void scrivi_ini();

    // Reads the coded values of one job from its texts, telling the operator once about a
    // multiplier that cannot be used.
    void refreshJobCodes(int job);

    // Writes one key; a failure adds its own error line to the log list.
    void scrivi_chiave_ini(const std::string& section, const std::string& key,
                           const std::string& value, const std::filesystem::path& path);

    ServerFields server;
    JobTable jobTable;
    std::array<std::string, kOperatorSlots> txt_oper_mail;
    std::vector<std::string> listdir;          // one row per job, in job order
    std::string operatorList;                  // "" or "||A1||C3||"
    ServerType serverType = ServerType::Sftp;  // cbotiposerver as it was at the last load
    std::string keyfile;                       // private key for SFTP public-key login, optional
    std::string keypassphrase;                 // the passphrase of keyfile, when it has one
    bool uploadTemp = false;  // "uploadtemp=SI": send under a temporary name, then rename
    // "attesastabile": seconds a local file must stay the same before it is sent, where the
    // system cannot tell whether it is still being written; 0 sends it at once.
    int settleSeconds = kDefaultSettleSeconds;
    // "limitebanda": KiB/s for the whole instance, both ways; 0 is no limit. The components
    // take it at start-up.
    std::int64_t limitebanda = 0;
    // "pausafile": the pause before each SFTP fetch.
    std::chrono::milliseconds pausafile = kDefaultFetchPause;
    // "CancellaSenzaVerifica_N=SI": job N deletes a sent file even where the server cannot tell
    // what it holds (FTP without SIZE). Kept in the file, never written by a save.
    std::array<bool, kJobCount> deleteUnverified{};
    // "SoloNuovi_N=SI": job N moves a file only when the journal has no delivery of this
    // version (path, size, modification time).
    std::array<bool, kJobCount> soloNuovi{};
    bool mantieniData = false;  // "mantienidata=SI": copies keep the source's modification time
    int journalDays = kDefaultJournalDays;  // "journaldays": days the journal keeps a row
    std::string alertCommand;               // "alertcommand", as written
    int alertAfter = kDefaultAlertAfter;    // "alertafter", checked
    bool fileFound = false;                 // the last load found a file at the settings path
    bool readFailed = false;                // the last load found a file it could not read

    // What the last load found wrong, in the order of its lines; the jobs a cycle can run;
    // and why no cycle can do anything, empty when one can.
    std::vector<SettingsProblem> problems;
    std::vector<int> usableJobs;
    std::string unusable;
    bool usable() const { return unusable.empty(); }

  private:
    void reportWriteError(const std::filesystem::path& path);

    ActivityLog& log_;
    const Clock& clock_;
    std::filesystem::path settingsPath_;
    std::vector<std::filesystem::path> lookedAt_;
    std::function<void()> afterLoad_;
};

// One key of the settings file, as the profile calls read it ("" when missing).
std::string leggi_chiave_ini(const std::string& section, const std::string& key,
                             const std::string& defaultValue, const std::filesystem::path& path);

}  // namespace vs
