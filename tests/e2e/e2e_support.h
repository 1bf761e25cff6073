#pragma once

// End-to-end runs: the real program binary, headless, against real test servers on 127.0.0.1.
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/server_process.h"
#include "support/temp_dir.h"

namespace vs::test {

// A test server started from tests/servers, serving root on 127.0.0.1.
class TestServer {
  public:
    TestServer(const std::string& script, const std::vector<std::string>& args);
    int port() const { return port_; }
    bool ok() const { return port_ > 0; }
    void stop() { process_.kill(); }
    std::string output() { return process_.output(); }

  private:
    ServerProcess process_;
    int port_ = 0;
};

// The two test servers with the login the settings files of these tests use
// (tester/secret), stopping by themselves after five minutes at most.
std::unique_ptr<TestServer> startSftpServer(const std::filesystem::path& root,
                                            const std::filesystem::path& hostKey,
                                            const std::vector<std::string>& extra = {});
std::unique_ptr<TestServer> startFtpServer(const std::filesystem::path& root,
                                           const std::vector<std::string>& extra = {});
// "127.0.0.1:<port>", as the settings' host key takes it.
std::string hostOf(const TestServer& server);

struct ProgramRun {
    int exitCode = -1;
    std::string output;
};

// One job of the settings file.
struct JobSpec {
    JobSpec(std::string remote_, std::string local_, std::string type_ = "TUTTI",
            std::string del_ = "NO", std::string operation_ = "Download", std::string backup_ = "",
            std::string multiplier_ = "1x", std::string params_ = "")
        : remote(std::move(remote_)),
          local(std::move(local_)),
          type(std::move(type_)),
          del(std::move(del_)),
          operation(std::move(operation_)),
          backup(std::move(backup_)),
          multiplier(std::move(multiplier_)),
          params(std::move(params_)) {}
    std::string remote, local, type, del, operation, backup, multiplier, params;
};

// Writes the settings file of a program folder.
void writeSettings(const std::filesystem::path& home, const std::string& host,
                   const std::string& serverType, const std::vector<JobSpec>& jobs,
                   const std::string& login = "tester", const std::string& password = "secret",
                   const std::string& extra = "");

// Runs the program headless in the folder with the arguments; waits at most timeoutSeconds.
ProgramRun runProgram(const std::filesystem::path& home, std::vector<std::string> args,
                      int timeoutSeconds = 120);

// The contents of every day's log file of the folder.
std::string dayLogs(const std::filesystem::path& home);

// Files below root that lie outside the allowed folders: a name from a hostile server that
// got out of the staging or local folder shows up here.
std::vector<std::string> filesOutside(const std::filesystem::path& root,
                                      const std::vector<std::filesystem::path>& allowed);

}  // namespace vs::test
