#include "support/server_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace vs::test {

ServerProcess::~ServerProcess() {
    kill();
}

bool ServerProcess::start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                          const std::string& errorFile) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    pid_t pid = ::fork();
    if (pid < 0) return false;
    if (pid == 0) {
        ::dup2(fds[1], 1);
        if (!errorFile.empty())
            ::dup2(::open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
        ::setpgid(0, 0);
        for (const std::string& e : env) ::putenv(const_cast<char*>(e.c_str()));
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        std::_Exit(127);
    }
    ::close(fds[1]);
    pid_ = pid;
    output_.clear();
    exitCode_ = -1;
    out_ = fds[0];
    ::fcntl(out_, F_SETFL, O_NONBLOCK);
    return true;
}

void ServerProcess::drain(int timeoutMs) {
    if (out_ < 0) return;
    pollfd p{out_, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return;
    char buf[4096];
    for (ssize_t n; (n = ::read(out_, buf, sizeof buf)) != 0;) {
        if (n < 0) return;  // nothing more for now
        output_.append(buf, static_cast<size_t>(n));
    }
    ::close(out_);
    out_ = -1;
}

int ServerProcess::waitForPort(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        const size_t at = output_.find("PORT ");
        if (at != std::string::npos && output_.find('\n', at) != std::string::npos)
            return std::atoi(output_.c_str() + at + 5);
        if (out_ < 0) return 0;
        drain(100);
    }
    return 0;
}

const std::string& ServerProcess::output() {
    drain(0);
    return output_;
}

bool ServerProcess::running() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) != pid_) return true;
    exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    pid_ = -1;
    return false;
}

int ServerProcess::wait(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (running()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            kill();
            return -1;
        }
        drain(50);
    }
    drain(0);
    while (out_ >= 0) drain(100);
    return exitCode_;
}

void ServerProcess::signal(int sig) {
    if (pid_ > 0) ::kill(pid_, sig);
}

void ServerProcess::closeOutput() {
    drain(0);
    if (out_ >= 0) ::close(out_);
    out_ = -1;
}

void ServerProcess::kill() {
    if (pid_ > 0) {
        ::kill(-pid_, SIGKILL);
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }
    closeOutput();
}

}  // namespace vs::test
