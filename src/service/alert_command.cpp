#include "service/alert_command.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/runtime_error.h"
#include "common/text.h"

namespace vs {

namespace {

constexpr std::size_t kOutputKept = 4096;
constexpr std::size_t kFirstLineMax = 200;
constexpr int kPollMs = 50;

// The systemd variables are the program's own: with them a command could speak for the service.
constexpr const char* kNotInherited[] = {"NOTIFY_SOCKET=", "WATCHDOG_USEC=", "WATCHDOG_PID="};

bool overridden(const char* entry, const std::vector<std::string>& env) {
    for (const char* prefix : kNotInherited)
        if (std::strncmp(entry, prefix, std::strlen(prefix)) == 0) return true;
    for (const std::string& e : env) {
        const std::size_t eq = e.find('=');
        if (std::strncmp(entry, e.c_str(), eq + 1) == 0) return true;
    }
    return false;
}

// Reads what is there without blocking; keeps the start, drops the rest so the command never
// stalls on a full pipe. False at end of file.
bool drain(int fd, std::string& kept) {
    char buf[4096];
    for (int rounds = 0; rounds < 64; ++rounds) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n == 0) return false;
        if (n < 0) return errno == EAGAIN || errno == EINTR;
        const std::size_t room = kOutputKept - std::min(kept.size(), kOutputKept);
        kept.append(buf, std::min(room, static_cast<std::size_t>(n)));
    }
    return true;
}

std::string firstLine(const std::string& out) {
    std::string line = out.substr(0, out.find('\n'));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > kFirstLineMax) line = line.substr(0, kFirstLineMax) + "...";
    return visible(line);
}

}  // namespace

AlertCommandResult runAlertCommand(const std::vector<std::string>& argv,
                                   const std::vector<std::string>& env, const YieldFn& yield,
                                   std::chrono::milliseconds limit) {
    using Clock = std::chrono::steady_clock;
    if (argv.empty()) throw RuntimeError(kErrGeneric, "nessun comando");
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) throw RuntimeError(kErrGeneric, std::strerror(errno));

    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<char*> envp;
    for (char** e = environ; *e; ++e)
        if (!overridden(*e, env)) envp.push_back(*e);
    for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);

    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&files, out[1], 1);
    posix_spawn_file_actions_adddup2(&files, out[1], 2);
    posix_spawn_file_actions_addclosefrom_np(&files, 3);  // no socket or file of ours leaks
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int sig : {SIGPIPE, SIGINT, SIGTERM, SIGHUP}) sigaddset(&defaults, sig);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(
        &attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    const int rc = ::posix_spawnp(&pid, argv[0].c_str(), &files, &attr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&files);
    posix_spawnattr_destroy(&attr);
    ::close(out[1]);
    if (rc != 0) {
        ::close(out[0]);
        throw RuntimeError(rc == ENOENT ? kErrFileNotFound : kErrGeneric, std::strerror(rc));
    }
    AlertCommandResult r;

    ::fcntl(out[0], F_SETFL, O_NONBLOCK);
    std::string output;
    bool open = true;
    int status = 0;
    const auto deadline = Clock::now() + limit;
    for (;;) {
        if (open) open = drain(out[0], output);
        if (::waitpid(pid, &status, WNOHANG) == pid) break;
        if (Clock::now() >= deadline) {
            ::kill(-pid, SIGKILL);
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            r.end = AlertCommandResult::End::TimedOut;
            break;
        }
        pollfd p{out[0], POLLIN, 0};
        ::poll(open ? &p : nullptr, open ? 1 : 0, kPollMs);
        if (yield) yield();
    }
    if (open) drain(out[0], output);  // what it wrote just before it ended
    ::close(out[0]);

    r.firstLine = firstLine(output);
    if (r.end == AlertCommandResult::End::TimedOut) return r;
    if (WIFSIGNALED(status)) {
        r.end = AlertCommandResult::End::Signalled;
        r.code = WTERMSIG(status);
    } else {
        r.end = AlertCommandResult::End::Exited;
        r.code = WEXITSTATUS(status);
    }
    return r;
}

}  // namespace vs
