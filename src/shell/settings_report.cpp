#include "shell/settings_report.h"

#include <system_error>

#include "common/text.h"
#include "cycle/selection_rules.h"
#include "settings/settings.h"
#include "shell/program.h"

namespace vs {

namespace fs = std::filesystem;

namespace {

std::string filtersText(const TransferJob& job) {
    const NameFilters f = parseNameFilters(job.Dirparametri);
    std::string text;
    const auto add = [&text](const char* what, const std::string& value) {
        if (!value.empty())
            text += std::string(text.empty() ? "" : ", ") + what + " '" + visible(value) + "'";
    };
    add("inizia", f.prefix);
    add("contiene", f.contains);
    add("finisce", f.suffix);
    if (job.codes.operation == Operation::Upload && contains(toUpper(job.Dirparametri), "VALSPED"))
        text += std::string(text.empty() ? "" : ", ") + "VALSPED (solo .T con i file collegati)";
    return text.empty() ? "nessuno" : text;
}

std::string jobLine(const Settings& s, int n) {
    const TransferJob& job = s.jobTable[n];
    const bool download = job.codes.operation == Operation::Download;
    std::string line = "Job " + std::to_string(n) + ": " + job.TipoOperazione + " da " +
                       visible(download ? job.DirRemota : job.DirLocale) + " a " +
                       visible(download ? job.DirLocale : job.DirRemota) + ", tipo " +
                       visible(job.TipoFile);
    // The control file is the SFTP listing's rule; an FTP listing has none.
    if (download && job.codes.fileType == FileType::Tutti && s.serverType == ServerType::Sftp)
        line += " (solo quando c'e' scarica_ok)";
    line += ", cancella " + std::string(job.codes.deleteAtSource ? "SI" : "NO");
    const int m = job.codes.multiplier;
    line += ", moltiplicatore " +
            (job.Dirmoltiplicatore.empty() ? "1x" : visible(job.Dirmoltiplicatore)) +
            (m == 1 ? " (ogni ciclo)" : " (il primo ciclo, poi ogni " + std::to_string(m) + ")");
    line += ", filtri " + filtersText(job);
    line += ", backup " + (job.DirLocaleBackup.empty() ? "nessuno" : visible(job.DirLocaleBackup));
    return line;
}

}  // namespace

std::pair<fs::path, std::vector<fs::path>> settingsLocation(const ProgramConfig& config) {
    if (!config.settingsOverride.empty())
        return {config.settingsOverride, {config.settingsOverride}};
    const fs::path local = config.programFolder / "valtrassosftp.ini";
    const fs::path& fixed = config.fixedSettingsPath;
    if (fixed.empty()) return {local, {local}};
    std::error_code ec;
    if (fs::exists(fixed, ec) || ec) return {fixed, {fixed}};
    return {local, {fixed, local}};
}

std::vector<std::string> settingsReport(const Settings& s) {
    std::vector<std::string> lines;
    if (s.fileFound) lines.push_back("File dei parametri: " + visible(s.settingsPath().string()));
    for (int n : s.usableJobs) lines.push_back(jobLine(s, n));
    for (const SettingsProblem& p : s.problems) lines.push_back(problemLine(p));
    if (!s.usable())
        lines.push_back("Parametri non utilizzabili: " + s.unusable +
                        "; nessun ciclo sara' eseguito (valtrassosftp --check)");
    return lines;
}

std::string unusableCycleLine(const Settings& s) {
    return "Parametri non utilizzabili: " + s.unusable + "; ciclo non eseguito";
}

}  // namespace vs
