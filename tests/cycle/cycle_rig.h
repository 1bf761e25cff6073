#pragma once

// A whole cycle wired to an in-memory server, a fake clock and real local folders.
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "activitylog/activity_log.h"
#include "cycle/cycle.h"
#include "cycle/fake_remote.h"
#include "journal/journal.h"
#include "settings/settings.h"
#include "support/servers.h"

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
    FakeRemote remote{session};
    int exitCode = -1;  // set when the program would end after an "asp" cycle
    bool stop = false;
    std::unique_ptr<Journal> journal = std::make_unique<Journal>(
        (dir / "journal.db").string(), clock, ::getpid(), [](long) { return false; });
    ListingPolicy listing = kSftpListing;  // the rules the server's listings are read by
    Cycle cycle{CycleContext{clock, log, settings, session, state, operatorCode, mode, tempFolder,
                             [this] { return server(); }, [] {},
                             [this](int code) { exitCode = code; }, nullptr,
                             [this] { return stop; }, [this] { return journal.get(); }}};

    CycleRig() { std::filesystem::create_directories(tempFolder); }

    RemoteServer server() { return {&remote, listing}; }

    // A local folder under the rig's folder, created.
    std::string folder(const std::string& name) {
        std::filesystem::create_directories(dir / name);
        return (dir / name).string();
    }
    TransferJob& job(int n, TransferJob fields) {
        settings.jobTable[n] = std::move(fields);
        settings.refreshJobCodes(n);
        return settings.jobTable[n];
    }
    TransferJob& download(int n, const std::string& remoteDir, const std::string& local,
                          const std::string& type = "TUTTI", const std::string& del = "NO",
                          const std::string& backup = "") {
        return job(n, {remoteDir, local, type, del, "Download", backup, "1x", "", {}});
    }
    TransferJob& upload(int n, const std::string& local, const std::string& remoteDir,
                        const std::string& del = "NO", const std::string& backup = "") {
        return job(n, {remoteDir, local, "TUTTI", del, "Upload", backup, "1x", "", {}});
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
        const auto all = lines();
        return std::find(all.begin(), all.end(), text) != all.end();
    }
    int loggedPart(const std::string& text) const {
        int n = 0;
        for (const std::string& l : lines()) n += l.find(text) != std::string::npos;
        return n;
    }
};

}  // namespace vs::test
