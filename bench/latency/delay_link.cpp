// A TCP forwarder on 127.0.0.1 that makes a loopback connection look like a long-distance one:
// every chunk read from either side is written to the other side RTT/2 later, in order.
//
//   delay_link --target PORT --rtt-ms MS [--port P] [--cap-mib N]
//
// Prints "PORT <n>" once it listens, then forwards every accepted connection to
// 127.0.0.1:PORT until SIGTERM or SIGINT. Single-threaded: one ppoll() over all sockets, each
// direction a queue of timestamped chunks, the poll timeout running until the earliest chunk
// is due. Nothing ever sleeps per chunk, so a full pipeline stays full.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <list>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// The cap is the data one direction may hold "on the wire". A link that holds C bytes with a
// one-way delay d carries at most C/d, so the cap is the link's bandwidth-delay product. 16 MiB
// at 100 ms RTT (50 ms one way) allows 320 MiB/s (~2.7 Gbit/s): four times what libssh2's
// 8 MiB read-ahead can ask for at that RTT (80 MiB/s), sixteen times what one OpenSSH channel
// window of 2 MiB allows (~20 MiB/s). So the tools' own windows set the pace, as on a real
// fast long path, while the memory stays bounded like a link's and not like an endless buffer.
constexpr std::size_t kDefaultCapMiB = 16;
constexpr std::size_t kReadSize = 256 * 1024;

volatile std::sig_atomic_t stopRequested = 0;

struct Chunk {
    Clock::time_point due;
    std::vector<char> data;  // empty: the sender closed its side; pass the close on when due
    std::size_t sent = 0;
};

struct Direction {
    int from = -1, to = -1;
    std::deque<Chunk> queue;
    std::size_t buffered = 0;
    bool readClosed = false;
    bool done = false;  // the close was passed on
};

struct Link {
    int client, server;
    Direction up, down;
    bool failed = false;
};

struct Options {
    int port = 0, target = 0;
    Clock::duration oneWay{};
    std::size_t cap = kDefaultCapMiB << 20;
};

void noDelay(int fd) {
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

int connectTarget(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        std::fprintf(stderr, "delay_link: cannot reach 127.0.0.1:%d: %s\n", port,
                     std::strerror(errno));
        close(fd);
        return -1;
    }
    noDelay(fd);
    return fd;
}

// Reads what the cap allows and queues it, due one delay from now.
void readSide(Direction& d, const Options& o, Clock::time_point now, std::vector<char>& buf) {
    const std::size_t room = std::min(kReadSize, o.cap - d.buffered);
    const ssize_t n = recv(d.from, buf.data(), room, MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (n <= 0) {
        d.readClosed = true;
        d.queue.push_back({now + o.oneWay, {}, 0});
        return;
    }
    d.queue.push_back({now + o.oneWay, std::vector<char>(buf.data(), buf.data() + n), 0});
    d.buffered += static_cast<std::size_t>(n);
}

// Writes every chunk that is due, until the socket is full. False when the peer is gone.
bool writeSide(Direction& d, Clock::time_point now) {
    while (!d.queue.empty() && d.queue.front().due <= now) {
        Chunk& c = d.queue.front();
        if (c.data.empty()) {
            shutdown(d.to, SHUT_WR);
            d.done = true;
            d.queue.clear();
            return true;
        }
        const ssize_t n =
            send(d.to, c.data.data() + c.sent, c.data.size() - c.sent, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0) return errno == EAGAIN || errno == EINTR;
        c.sent += static_cast<std::size_t>(n);
        d.buffered -= static_cast<std::size_t>(n);
        if (c.sent < c.data.size()) return true;
        d.queue.pop_front();
    }
    return true;
}

int listenOn(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 64) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        std::fprintf(stderr, "delay_link: cannot listen on 127.0.0.1:%d: %s\n", port,
                     std::strerror(errno));
        std::exit(1);
    }
    std::printf("PORT %d\n", ntohs(a.sin_port));
    std::fflush(stdout);
    return fd;
}

bool parse(int argc, char** argv, Options& o) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        const double v = std::atof(argv[i + 1]);
        if (a == "--port")
            o.port = static_cast<int>(v);
        else if (a == "--target")
            o.target = static_cast<int>(v);
        else if (a == "--rtt-ms")
            o.oneWay = std::chrono::duration_cast<Clock::duration>(
                std::chrono::duration<double, std::milli>(v / 2));
        else if (a == "--cap-mib")
            o.cap = static_cast<std::size_t>(v * 1024 * 1024);
        else
            return false;
    }
    return argc % 2 == 1 && o.target > 0 && o.cap >= kReadSize;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, o)) {
        std::fprintf(stderr,
                     "usage: delay_link --target PORT --rtt-ms MS [--port P] [--cap-mib N]\n");
        return 2;
    }
    // The stop signals stay blocked except inside ppoll(), so that one cannot slip in between
    // the loop's test and a wait without end.
    std::signal(SIGTERM, [](int) { stopRequested = 1; });
    std::signal(SIGINT, [](int) { stopRequested = 1; });
    sigset_t stops, open;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    sigprocmask(SIG_BLOCK, &stops, &open);
    prctl(PR_SET_TIMERSLACK, 1UL);  // wake when a chunk is due, not up to 50 us later
    const int listener = listenOn(o.port);
    std::list<Link> links;
    std::vector<char> buf(kReadSize);
    std::vector<pollfd> fds;
    std::vector<Direction*> owners;  // the direction each pollfd serves

    while (!stopRequested) {
        const auto now = Clock::now();
        fds.assign(1, {listener, POLLIN, 0});
        owners.assign(1, nullptr);
        auto wait = Clock::duration::max();
        for (Link& l : links) {
            for (Direction* d : {&l.up, &l.down}) {
                if (!d->readClosed && d->buffered < o.cap) {
                    fds.push_back({d->from, POLLIN, 0});
                    owners.push_back(d);
                }
                if (d->queue.empty()) continue;
                if (d->queue.front().due <= now) {
                    fds.push_back({d->to, POLLOUT, 0});
                    owners.push_back(d);
                } else {
                    wait = std::min(wait, d->queue.front().due - now);
                }
            }
        }
        timespec ts{}, *timeout = nullptr;
        if (wait != Clock::duration::max()) {
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
            ts = {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
            timeout = &ts;
        }
        if (ppoll(fds.data(), fds.size(), timeout, &open) < 0 && errno != EINTR) {
            std::perror("delay_link: ppoll");
            return 1;
        }

        const auto later = Clock::now();
        if (fds[0].revents & POLLIN) {
            const int c = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            const int s = c < 0 ? -1 : connectTarget(o.target);
            if (s < 0) {
                if (c >= 0) close(c);
            } else {
                noDelay(c);
                Link& l = links.emplace_back(Link{c, s, {}, {}});
                l.up.from = l.down.to = c;
                l.up.to = l.down.from = s;
            }
        }
        for (std::size_t i = 1; i < fds.size(); ++i)
            if (fds[i].events == POLLIN && fds[i].revents) readSide(*owners[i], o, later, buf);
        // Writing is tried for every direction: it only acts on chunks that are due.
        for (auto it = links.begin(); it != links.end();) {
            for (Direction* d : {&it->up, &it->down})
                if (!writeSide(*d, later)) it->failed = true;
            if (it->failed || (it->up.done && it->down.done)) {
                close(it->client);
                close(it->server);
                it = links.erase(it);
            } else {
                ++it;
            }
        }
    }
    return 0;
}
