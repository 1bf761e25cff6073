#include "settings/settings.h"

#include <optional>

#include "activitylog/activity_log.h"
#include "common/clock.h"
#include "common/runtime_error.h"
#include "common/text.h"
#include "settings/profile_file.h"
#include "settings/settings_check.h"

namespace vs {

std::string leggi_chiave_ini(const std::string& section, const std::string& key,
                             const std::string& defaultValue, const std::filesystem::path& path) {
    return readProfileString(section, key, defaultValue, path);
}

namespace {

// A whole number from 0 to `most`, or `fallback` when the text is empty or no such number.
std::int64_t countKey(const std::string& text, std::int64_t most, std::int64_t fallback) {
    const auto n = parseInteger(text);
    return n && *n >= 0 && *n <= most ? *n : fallback;
}

}  // namespace

Settings::Settings(ActivityLog& log, const Clock& clock) : log_(log), clock_(clock) {
    listdir.reserve(kJobCount);
}

void Settings::reportWriteError(const std::filesystem::path& path) {
    log_.scrivi_log(generalDateTime(clock_) + " Errore in scrittura nel file " + path.string());
}

void Settings::scrivi_chiave_ini(const std::string& section, const std::string& key,
                                 const std::string& value, const std::filesystem::path& path) {
    try {
        writeProfileString(section, key, value, path);
    } catch (const RuntimeError&) {
        reportWriteError(path);
    }
}

void Settings::leggi_ini() {
    // The file is read once; every key then comes from the same snapshot, with the same
    // semantics as reading the keys one by one.
    std::error_code error;
    fileFound = std::filesystem::exists(settingsPath_, error) || error;
    std::optional<RuntimeError> unreadable;
    ProfileText profile("");
    try {
        profile = loadProfile(settingsPath_);
    } catch (const RuntimeError& e) {
        unreadable = e;  // every key then reads as missing, and the problem says why
    }
    readFailed = unreadable.has_value();
    const auto read = [&profile](const std::string& key) {
        return profile.read(kSettingsSection, key, "");
    };
    operatorList.clear();
    server.txtHost = read("host");
    server.txtLogin = read("login");
    server.txtPwd = read("pwd");
    server.cbotime = read("deltatime");
    server.cbotiposerver = read("tiposerver");
    if (server.cbotiposerver.empty()) server.cbotiposerver = "Sftp";
    keyfile = read("keyfile");
    keypassphrase = read("keypassphrase");
    uploadTemp = read("uploadtemp") == "SI";
    mantieniData = read("mantienidata") == "SI";
    alertCommand = read("alertcommand");
    alertAfter = alertAfterValue(read("alertafter")).value_or(kDefaultAlertAfter);
    // Values out of range are reported with the other problems.
    settleSeconds =
        static_cast<int>(countKey(read("attesastabile"), kMaxSettleSeconds, kDefaultSettleSeconds));
    limitebanda = countKey(read("limitebanda"), kMaxBandwidthKiB, 0);
    pausafile = std::chrono::milliseconds(
        countKey(read("pausafile"), kMaxFetchPauseMs, kDefaultFetchPause.count()));
    journalDays = journalDaysValue(read("journaldays")).value_or(kDefaultJournalDays);

    listdir.clear();
    for (int n = 0; n < kJobCount; ++n) {
        TransferJob& job = jobTable[n];
        for (int f = 0; f < static_cast<int>(kJobKeyStems.size()); ++f)
            jobField(job, f) = read(kJobKeyStems[f] + std::to_string(n));
        job.codes = parseJobCodes(job);
        deleteUnverified[n] = read("CancellaSenzaVerifica_" + std::to_string(n)) == "SI";
        soloNuovi[n] = read("SoloNuovi_" + std::to_string(n)) == "SI";
        listdir.push_back(listdirRow(n, job.DirRemota));
    }

    for (int m = 0; m < kOperatorSlots; ++m) {
        txt_oper_mail[m] = read("OperMail_" + std::to_string(m));
        const std::string& code = txt_oper_mail[m];
        if (!code.empty() && !contains(code, " ") && !contains(code, "."))
            operatorList += "||" + code;
    }
    if (!operatorList.empty()) operatorList += "||";
    serverType = parseServerType(server.cbotiposerver);

    // Nothing found or nothing readable is not "no work": the program must say so, or it
    // would do nothing, forever, and look content.
    if (!fileFound) {
        std::string where;
        for (const auto& p : lookedAt_.empty() ? std::vector{settingsPath_} : lookedAt_)
            where += (where.empty() ? "" : ", ") + p.string();
        problems = {{"", -1, "nessun file dei parametri, cercato in " + where, ""}};
        usableJobs.clear();
        unusable = "nessun file dei parametri";
    } else if (readFailed) {
        problems = {{"", -1,
                     "Impossibile leggere il file dei parametri " + unreadable->description(),
                     "nessun job sara' eseguito"}};
        usableJobs.clear();
        unusable = "file dei parametri illeggibile";
    } else {
        SettingsCheck check = checkSettings(profile, *this);
        problems = std::move(check.problems);
        usableJobs = std::move(check.usableJobs);
        unusable = std::move(check.unusable);
    }
    if (afterLoad_) afterLoad_();
}

void Settings::refreshJobCodes(int n) {
    TransferJob& job = jobTable[n];
    job.codes = parseJobCodes(job);
    if (!job.codes.multiplierUsable && !job.DirRemota.empty())
        log_.scrivi_log("Moltiplicatore non valido per il job " + std::to_string(n) + ": '" +
                        visible(job.Dirmoltiplicatore) + "', il job gira come 1x");
}

void Settings::scrivi_ini() {
    ProfileBatch batch(settingsPath_);
    std::size_t keys = 0;
    const auto put = [&](const std::string& key, const std::string& value) {
        batch.set(kSettingsSection, key, value);
        ++keys;
    };
    put("host", server.txtHost);
    put("login", server.txtLogin);
    put("pwd", server.txtPwd);
    put("deltatime", server.cbotime);
    put("tiposerver", server.cbotiposerver);
    for (int n = 0; n < kJobCount; ++n)
        for (int f = 0; f < static_cast<int>(kJobKeyStems.size()); ++f)
            put(kJobKeyStems[f] + std::to_string(n), jobField(jobTable[n], f));
    for (int m = 0; m < kOperatorSlots; ++m) put("OperMail_" + std::to_string(m), txt_oper_mail[m]);

    // One atomic write; when it fails every key reports its own line, as a key-by-key save
    // would have.
    try {
        batch.commit();
    } catch (const RuntimeError&) {
        for (std::size_t k = 0; k < keys; ++k) reportWriteError(settingsPath_);
    }
    leggi_ini();
}

}  // namespace vs
