#pragma once

// A whole cycle wired to in-memory servers, a fake clock and real local folders.
#include <memory>
#include <string>
#include <vector>

#include "activitylog/activity_log.h"
#include "cycle/cycle.h"
#include "settings/settings.h"
#include "support/fake_clock.h"
#include "support/fake_remote.h"
#include "support/temp_dir.h"

namespace vs::test {

struct CycleRig {
    TempDir dir;
    FakeClock clock;
    ActivityLog log{clock, dir.path(), englishWeekdayNames()};
    Settings settings{log, clock};
    SessionState session;
    CycleState state;
    std::string operatorCode = "TUTTI";
    std::string mode;
    std::filesystem::path tempFolder = dir / "tempozipftp";
    RemoteTree remote;
    FakeSftp sftpComponent{remote};
    FakeFtp ftpControl{remote};
    SftpSession sftp{session,
                     settings.server,
                     log,
                     clock,
                     [this] { onYield(); },
                     &sftpComponent,
                     (dir / "known_hosts").string(),
                     settings.keyfile};
    FtpSession ftp{session, settings.server, log, clock, &ftpControl};
    int ended = 0;
    std::function<void()> yieldHook;
    Cycle cycle{CycleContext{clock, log, settings, session, state, operatorCode, mode, tempFolder,
                             sftp, ftp, [this] { onYield(); }, [](std::chrono::milliseconds) {},
                             [this] { ++ended; }, nullptr}};

    explicit CycleRig(const std::string& serverType = "Sftp") {
        std::filesystem::create_directories(tempFolder);
        settings.server = {"127.0.0.1", "user", "pw", "15", serverType};
        settings.serverType = serverType;
    }

    void onYield() {
        if (yieldHook) yieldHook();
    }

    // A local folder under the rig's temporary folder, created.
    std::string folder(const std::string& name) {
        auto p = dir / name;
        std::filesystem::create_directories(p);
        return p.string();
    }

    TransferJob& job(int n) { return settings.jobTable[n]; }

    TransferJob& download(int n, const std::string& remoteDir, const std::string& local,
                          const std::string& type = "TUTTI", const std::string& del = "NO") {
        remote.folders.insert(remoteDir.back() == '/' ? remoteDir : remoteDir + "/");
        return settings.jobTable[n] = {remoteDir, local, type, del, "Download", "", "1x", ""};
    }
    TransferJob& upload(int n, const std::string& local, const std::string& remoteDir,
                        const std::string& del = "NO", const std::string& params = "") {
        remote.folders.insert(remoteDir.back() == '/' ? remoteDir : remoteDir + "/");
        return settings.jobTable[n] = {remoteDir, local, "TUTTI", del, "Upload", "", "1x", params};
    }

    CycleOutcome run() { return cycle.collegamento(); }

    // Log lines with their time prefix removed where they have one.
    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        for (const std::string& l : log.List1())
            out.push_back(l.size() >= 8 && l[2] == ':' && l[5] == ':' ? l.substr(8) : l);
        return out;
    }
    bool logged(const std::string& text) const {
        for (const std::string& l : lines())
            if (l == text) return true;
        return false;
    }
    bool loggedPart(const std::string& text) const {
        for (const std::string& l : lines())
            if (l.find(text) != std::string::npos) return true;
        return false;
    }
    void clearLog() {
        while (log.size()) log.scrivi_file_log();
    }
};

}  // namespace vs::test
