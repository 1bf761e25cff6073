#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "support/servers.h"

namespace vs::test {

// One job of a settings file.
struct JobSpec {
    std::string remote, local, type = "TUTTI", del = "NO", operation = "Download", backup = "",
                               multiplier = "1x", params = "";
};

// Where the program logs in and with what.
struct Login {
    std::string host, serverType = "Sftp", login = "tester", password = "secret", extra = "";
};
Login loginTo(const TestServer& server);

// Writes the settings file of a program folder (CR LF lines, as the Windows program wrote).
void writeSettings(const std::filesystem::path& home, const Login& login,
                   const std::vector<JobSpec>& jobs, const std::string& extra = "");

struct ProgramRun {
    int exitCode = -1;
    std::string output;
};

// Runs the program headless in the folder with the arguments; waits at most timeoutSeconds.
ProgramRun runProgram(const std::filesystem::path& home, std::vector<std::string> args,
                      int timeoutSeconds = 120);

// The contents of every day's log file of the folder.
std::string dayLogs(const std::filesystem::path& home);

// Regular files below root, relative to it, sorted: what a folder holds after a run.
std::vector<std::string> filesBelow(const std::filesystem::path& root);

}  // namespace vs::test
