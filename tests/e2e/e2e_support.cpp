#include "e2e/e2e_support.h"

#include <chrono>
#include <fstream>

namespace vs::test {

TestServer::TestServer(const std::string& script, const std::vector<std::string>& args) {
    if (process_.start(pythonServer(script, args))) port_ = process_.waitForPort();
}

std::unique_ptr<TestServer> startSftpServer(const std::filesystem::path& root,
                                            const std::filesystem::path& hostKey,
                                            const std::vector<std::string>& extra) {
    std::vector<std::string> args{"--root",         root.string(),   "--host-key",
                                  hostKey.string(), "--max-seconds", "300"};
    args.insert(args.end(), extra.begin(), extra.end());
    return std::make_unique<TestServer>("sftp_server.py", args);
}

std::unique_ptr<TestServer> startFtpServer(const std::filesystem::path& root,
                                           const std::vector<std::string>& extra) {
    std::vector<std::string> args{"--root",     root.string(), "--user",        "tester",
                                  "--password", "secret",      "--max-seconds", "300"};
    args.insert(args.end(), extra.begin(), extra.end());
    return std::make_unique<TestServer>("ftp_server.py", args);
}

std::string hostOf(const TestServer& server) {
    return "127.0.0.1:" + std::to_string(server.port());
}

void writeSettings(const std::filesystem::path& home, const std::string& host,
                   const std::string& serverType, const std::vector<JobSpec>& jobs,
                   const std::string& login, const std::string& password,
                   const std::string& extra) {
    std::string ini = "[PARAMETRI]\r\nhost=" + host + "\r\nlogin=" + login + "\r\npwd=" + password +
                      "\r\ndeltatime=1\r\ntiposerver=" + serverType + "\r\n" + extra;
    for (size_t n = 0; n < jobs.size(); ++n) {
        const JobSpec& j = jobs[n];
        const std::string k = std::to_string(n);
        ini += "DirRemota_" + k + "=" + j.remote + "\r\nDirLocale_" + k + "=" + j.local +
               "\r\nTipoFile_" + k + "=" + j.type + "\r\nCancelloFile_" + k + "=" + j.del +
               "\r\nTipoOperazione_" + k + "=" + j.operation + "\r\nDirLocaleBackup_" + k + "=" +
               j.backup + "\r\nDirmoltiplicatore_" + k + "=" + j.multiplier + "\r\nDirparametri_" +
               k + "=" + j.params + "\r\n";
    }
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

}  // namespace vs::test

namespace vs::test {

std::vector<std::string> filesOutside(const std::filesystem::path& root,
                                      const std::vector<std::filesystem::path>& allowed) {
    std::vector<std::string> stray;
    for (auto& e : std::filesystem::recursive_directory_iterator(root)) {
        if (!e.is_regular_file()) continue;
        const std::string s = e.path().string();
        bool inside = false;
        for (const auto& a : allowed)
            inside = inside || s.rfind(a.string() + "/", 0) == 0 || e.path() == a;
        if (!inside) stray.push_back(s);
    }
    return stray;
}

}  // namespace vs::test
