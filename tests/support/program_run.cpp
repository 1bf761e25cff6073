#include "support/program_run.h"

#include <algorithm>
#include <chrono>

namespace vs::test {

Login loginTo(const TestServer& server) {
    return {server.host(), server.serverType(), server.login(), server.password(),
            server.settingsExtra()};
}

void writeSettings(const std::filesystem::path& home, const Login& login,
                   const std::vector<JobSpec>& jobs, const std::string& extra) {
    std::string ini = "[PARAMETRI]\r\nhost=" + login.host + "\r\nlogin=" + login.login +
                      "\r\npwd=" + login.password +
                      "\r\ndeltatime=1\r\ntiposerver=" + login.serverType + "\r\n" + login.extra +
                      extra;
    for (size_t n = 0; n < jobs.size(); ++n) {
        const JobSpec& j = jobs[n];
        const std::string k = std::to_string(n);
        ini += "DirRemota_" + k + "=" + j.remote + "\r\nDirLocale_" + k + "=" + j.local +
               "\r\nTipoFile_" + k + "=" + j.type + "\r\nCancelloFile_" + k + "=" + j.del +
               "\r\nTipoOperazione_" + k + "=" + j.operation + "\r\nDirLocaleBackup_" + k + "=" +
               j.backup + "\r\nDirmoltiplicatore_" + k + "=" + j.multiplier + "\r\nDirparametri_" +
               k + "=" + j.params + "\r\n";
    }
    std::filesystem::create_directories(home);
    writeFile(home / "valtrassosftp.ini", ini);
}

ProgramRun runProgram(const std::filesystem::path& home, std::vector<std::string> args,
                      int timeoutSeconds) {
    args.insert(args.begin(), programBinary());
    args.push_back("--headless");
    ServerProcess p;
    ProgramRun run;
    if (!p.start(args, {"VALTRASSOSFTP_HOME=" + home.string(), "LC_ALL=C"})) return run;
    run.exitCode = p.wait(std::chrono::seconds(timeoutSeconds));
    run.output = p.output();
    return run;
}

std::string dayLogs(const std::filesystem::path& home) {
    std::string all;
    std::error_code ec;
    for (auto& e : std::filesystem::directory_iterator(home / "log", ec)) all += readFile(e.path());
    return all;
}

std::vector<std::string> filesBelow(const std::filesystem::path& root) {
    std::vector<std::string> files;
    std::error_code ec;
    for (auto& e : std::filesystem::recursive_directory_iterator(root, ec))
        if (e.is_regular_file() || e.is_symlink())
            files.push_back(std::filesystem::relative(e.path(), root).string());
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace vs::test
