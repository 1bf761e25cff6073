#pragma once

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "settings/job_table.h"

namespace vs {

class ActivityLog;
class Clock;

inline constexpr const char* kSettingsSection = "PARAMETRI";

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

    void setSettingsPath(std::filesystem::path path) { settingsPath_ = std::move(path); }
    const std::filesystem::path& settingsPath() const { return settingsPath_; }

    // Loads the settings file into every place below.
    void leggi_ini();
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
    bool uploadTemp = false;  // "uploadtemp=SI": send under a temporary name, then rename
    // "SoloNuovi_N=SI": job N moves a file only when the journal has no delivery of this
    // version (path, size, modification time).
    std::array<bool, kJobCount> soloNuovi{};
    bool mantieniData = false;  // "mantienidata=SI": copies keep the source's modification time
    int journalDays = kJournalDaysDefault;  // "journaldays": days the journal keeps a row
    static constexpr int kJournalDaysDefault = 365;
    bool readFailed = false;  // the last load found a file it could not read

  private:
    void reportWriteError(const std::filesystem::path& path);

    ActivityLog& log_;
    const Clock& clock_;
    std::filesystem::path settingsPath_;
};

// One key of the settings file, as the profile calls read it ("" when missing).
std::string leggi_chiave_ini(const std::string& section, const std::string& key,
                             const std::string& defaultValue, const std::filesystem::path& path);

}  // namespace vs
