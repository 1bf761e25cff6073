#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace vs::test {

// A child process started for a test: a test server that prints "PORT <n>" on its standard
// output once it listens, or the program itself. Killed (SIGKILL) when destroyed.
class ServerProcess {
  public:
    ServerProcess() = default;
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    // Starts argv with the extra environment entries ("NAME=value"), standard error into
    // errorFile when one is named. Returns false on failure.
    bool start(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
               const std::string& errorFile = "");
    // Reads standard output until a line "PORT <n>" arrives; 0 on time-out or exit.
    int waitForPort(std::chrono::milliseconds timeout = std::chrono::seconds(20));
    // Everything the process printed on standard output so far (reads what is pending).
    const std::string& output();
    // Waits for the process to end; returns its exit code, or -1 on time-out (then kills it).
    int wait(std::chrono::milliseconds timeout);
    void signal(int sig);
    // Stops reading what the process prints, as a reader that went away (| grep -m1).
    void closeOutput();
    void kill();
    bool running();

  private:
    void drain(int timeoutMs);
    pid_t pid_ = -1;
    int out_ = -1;
    std::string output_;
    int exitCode_ = -1;
};

}  // namespace vs::test
