#include "settings/settings_check.h"

#include <unistd.h>

#include <map>

#include "common/local_folder.h"
#include "common/text.h"
#include "settings/profile_file.h"
#include "settings/settings.h"
#include "settings/settings_keys.h"

namespace vs {

namespace {

constexpr int kMaxInterval = 60;

std::string quoted(const std::string& value) {
    return "'" + visible(value) + "'";
}

void checkLayout(const ProfileText& profile, std::vector<SettingsProblem>& out) {
    std::map<std::string, std::size_t> firstLine;  // lower-cased key -> line
    std::map<std::string, int> elsewhere;          // other sections -> keys in them
    std::vector<std::string> sectionOrder;
    int stray = 0;
    const ProfileLine* firstStray = nullptr;
    const std::vector<ProfileLine> lines = profile.meaningfulLines();
    for (const ProfileLine& line : lines) {
        if (!line.key || line.key->empty()) {
            if (stray++ == 0) firstStray = &line;
            continue;
        }
        if (!equalsIgnoreCase(line.section, kSettingsSection)) {
            if (elsewhere[line.section]++ == 0) sectionOrder.push_back(line.section);
            continue;
        }
        const std::string& key = *line.key;
        if (const auto unknown = checkKeyName(key)) {
            out.push_back(
                {key, -1,
                 unknown->what + (unknown->nearest ? " (forse " + *unknown->nearest + "?)" : ""),
                 "ignorata"});
            continue;
        }
        const auto [at, fresh] = firstLine.emplace(toLower(key), line.number);
        if (!fresh)
            out.push_back({key, -1, "ripetuta alla riga " + std::to_string(line.number),
                           "vale la prima, alla riga " + std::to_string(at->second)});
    }
    for (const std::string& section : sectionOrder) {
        const std::string where =
            section.empty() ? "prima di ogni sezione" : "nella sezione [" + section + "]";
        out.push_back({"", -1,
                       std::to_string(elsewhere[section]) + " chiavi " + where +
                           ": le chiavi vanno nella sezione [PARAMETRI]",
                       "ignorate"});
    }
    if (!lines.empty() && !profile.hasSection(kSettingsSection))
        out.push_back({"", -1, "nessuna sezione [PARAMETRI]", "nessuna chiave letta"});
    if (stray > 0)
        out.push_back({"", -1,
                       std::to_string(stray) +
                           " righe che non sono chiave=valore, commento o sezione, la prima "
                           "alla riga " +
                           std::to_string(firstStray->number) + ": " + quoted(firstStray->text),
                       "ignorate"});
}

// A folder the cycle will need: whether it is there, as the cycle itself asks.
bool folderThere(const std::string& path) {
    try {
        return folderExists(path);
    } catch (const std::exception&) {
        return false;
    }
}

void checkServer(const ProfileText& profile, const Settings& s, std::vector<SettingsProblem>& out) {
    const auto raw = [&profile](const char* key) {
        return profile.read(kSettingsSection, key, "");
    };
    if (s.server.txtHost.empty()) out.push_back({"host", -1, "mancante", "nessuna connessione"});

    const std::string& time = s.server.cbotime;
    const int seconds = tickInterval(time);
    const std::string range = "deve essere un numero di secondi da 1 a 60";
    if (time.empty())
        out.push_back({"deltatime", -1, "mancante, " + range, "uso 60"});
    else if (trimBlanks(time) == "0")
        out.push_back({"deltatime", -1,
                       "0, nessuna attesa tra un ciclo e l'altro (con mod:auto un ciclo al "
                       "secondo)",
                       ""});
    else if (parseInteger(time) != seconds)
        out.push_back({"deltatime", -1, quoted(time) + " non valido, " + range,
                       "uso " + std::to_string(seconds)});

    if (s.serverType == ServerType::Unknown)
        out.push_back({"tiposerver", -1,
                       quoted(s.server.cbotiposerver) +
                           " sconosciuto, deve essere Sftp, Ftp, Ftps o FtpsImplicito",
                       "nessuna connessione"});

    if (!s.keyfile.empty()) {
        if (s.serverType != ServerType::Sftp)
            out.push_back({"keyfile", -1, "vale solo con tiposerver=Sftp", "ignorata"});
        else if (::access(s.keyfile.c_str(), R_OK) != 0)
            out.push_back({"keyfile", -1, "il file " + quoted(s.keyfile) + " non e' leggibile",
                           "accesso con la password"});
    } else if (!raw("keypassphrase").empty()) {
        out.push_back({"keypassphrase", -1, "senza keyfile", "ignorata"});
    }

    const auto yesNo = [&](const std::string& key, const std::string& value,
                           const std::string& instead) {
        if (!value.empty() && value != "SI" && value != "NO")
            out.push_back({key, -1, quoted(value) + " non valido, deve essere SI o NO", instead});
    };
    yesNo("uploadtemp", raw("uploadtemp"), "uso NO");
    yesNo("mantienidata", raw("mantienidata"), "uso NO");

    // A whole number from 0 to `most` of `unit`; an empty text is the default.
    const auto count = [&](const char* key, std::int64_t most, const char* unit,
                           const std::string& instead) {
        const std::string text = raw(key);
        if (trimBlanks(text).empty()) return;
        const auto n = parseInteger(text);
        if (!n || *n < 0 || *n > most)
            out.push_back({key, -1,
                           quoted(text) + " non valido, deve essere un numero di " + unit +
                               " da 0 a " + std::to_string(most),
                           instead});
    };
    count("attesastabile", kMaxSettleSeconds, "secondi",
          "uso " + std::to_string(kDefaultSettleSeconds));
    count("limitebanda", kMaxBandwidthKiB, "KiB/s", "nessun limite di banda");
    count("pausafile", kMaxFetchPauseMs, "millisecondi",
          "uso " + std::to_string(kDefaultFetchPause.count()));
    if (const std::string after = raw("alertafter"); !alertAfterValue(after))
        out.push_back({"alertafter", -1,
                       quoted(after) + " non valido, deve essere un numero da 1 a 1000000",
                       "uso " + std::to_string(kDefaultAlertAfter)});
    if (const std::string days = raw("journaldays"); !journalDaysValue(days))
        out.push_back({"journaldays", -1,
                       quoted(days) + " non valido, deve essere un numero di giorni da 1 a 100000",
                       "uso " + std::to_string(kDefaultJournalDays)});
}

// Whether the job can run, with a problem for each key that keeps it from running or that is
// bent to another value. The requirements are the cycle's own: the five keys it tests, the
// exact words of TipoOperazione and, for downloads, of TipoFile.
bool checkJob(const ProfileText& profile, int n, const TransferJob& job,
              std::vector<SettingsProblem>& out) {
    bool any = false;
    for (int f = 0; f < static_cast<int>(kJobKeyStems.size()); ++f)
        any = any || !jobField(job, f).empty();
    if (!any) return false;
    const auto key = [n](int f) { return kJobKeyStems[f] + std::to_string(n); };
    const std::string leftOut = "job " + std::to_string(n) + " escluso";
    bool usable = true;
    const auto require = [&](int f, const std::string& values) {
        const std::string& v = jobField(job, f);
        if (!v.empty() && values.empty()) return;
        usable = false;
        out.push_back({key(f), n,
                       (v.empty() ? std::string("mancante") : quoted(v) + " non valido") +
                           (values.empty() ? "" : ", deve essere " + values),
                       leftOut});
    };
    const JobCodes& c = job.codes;
    require(0, "");
    require(1, "");
    if (job.TipoFile.empty())
        require(2, "TUTTI, AUTOMAIL o PDFREPORT");
    else if (c.operation == Operation::Download && c.fileType == FileType::Other)
        require(2, "TUTTI, AUTOMAIL o PDFREPORT");
    if (job.CancelloFile.empty())
        require(3, "SI o NO");
    else if (job.CancelloFile != "SI" && job.CancelloFile != "NO")
        out.push_back({key(3), n, quoted(job.CancelloFile) + " non valido, deve essere SI o NO",
                       "uso NO: il file resta alla sorgente"});
    if (c.operation == Operation::None) require(4, "Download o Upload");
    if (!c.multiplierUsable)
        out.push_back({key(6), n,
                       quoted(job.Dirmoltiplicatore) +
                           " non valido, deve essere un numero seguito da x (1x, 2x, 10x ...)",
                       "uso 1x"});
    for (const char* stem : {"CancellaSenzaVerifica_", "SoloNuovi_"}) {
        const std::string yesNoKey = stem + std::to_string(n);
        if (const std::string v = profile.read(kSettingsSection, yesNoKey, "");
            !v.empty() && v != "SI" && v != "NO")
            out.push_back({yesNoKey, n, quoted(v) + " non valido, deve essere SI o NO", "uso NO"});
    }
    if (!usable) return false;

    if (!folderThere(job.DirLocale))
        out.push_back({key(1), n, "la cartella " + quoted(job.DirLocale) + " non esiste",
                       "il job sara' in errore a ogni ciclo"});
    if (!job.DirLocaleBackup.empty() && !folderThere(job.DirLocaleBackup))
        out.push_back({key(5), n, "la cartella " + quoted(job.DirLocaleBackup) + " non esiste",
                       "le copie di backup non riusciranno e nulla sara' cancellato alla "
                       "sorgente"});
    return true;
}

}  // namespace

std::optional<int> alertAfterValue(const std::string& text) {
    if (trimBlanks(text).empty()) return kDefaultAlertAfter;
    const auto n = parseInteger(text);
    if (!n || *n < 1 || *n > 1000000) return std::nullopt;
    return static_cast<int>(*n);
}

std::optional<int> journalDaysValue(const std::string& text) {
    const std::string days = trimBlanks(text);
    if (days.empty()) return kDefaultJournalDays;
    const std::optional<std::int64_t> n = leadingNumber(days);
    // Plain decimal only: no sign, no leading zeros, nothing after the digits.
    if (!n || *n < 1 || *n > 100000 || std::to_string(*n) != days) return std::nullopt;
    return static_cast<int>(*n);
}

int tickInterval(const std::string& cbotime) {
    auto n = leadingNumber(cbotime.substr(0, 2));
    if (!n || *n < 0) return kMaxInterval;
    return *n > kMaxInterval ? kMaxInterval : static_cast<int>(*n);
}

SettingsCheck checkSettings(const ProfileText& profile, const Settings& s) {
    SettingsCheck check;
    checkLayout(profile, check.problems);
    checkServer(profile, s, check.problems);
    for (int n = 0; n < kJobCount; ++n)
        if (checkJob(profile, n, s.jobTable[n], check.problems)) check.usableJobs.push_back(n);
    for (int m = 0; m < kOperatorSlots; ++m) {
        const std::string& code = s.txt_oper_mail[m];
        if (!code.empty() && (contains(code, " ") || contains(code, ".")))
            check.problems.push_back({"OperMail_" + std::to_string(m), -1,
                                      quoted(code) + " contiene uno spazio o un punto",
                                      "ignorato"});
    }

    std::vector<std::string> why;
    if (check.usableJobs.empty()) why.push_back("nessun job utilizzabile");
    if (s.server.txtHost.empty()) why.push_back("host mancante");
    if (s.serverType == ServerType::Unknown) why.push_back("tipo server sconosciuto");
    for (const std::string& w : why) check.unusable += (check.unusable.empty() ? "" : ", ") + w;
    return check;
}

}  // namespace vs
