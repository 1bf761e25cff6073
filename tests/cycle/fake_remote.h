#pragma once

// An in-memory server behind the session interface, for the cycle's own rules.
#include <chrono>
#include <ctime>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "common/new_file.h"
#include "common/runtime_error.h"
#include "common/source_file.h"
#include "remote/remote_session.h"
#include "remote/session_state.h"
#include "support/fake_clock.h"

namespace vs::test {

class FakeRemote final : public RemoteSession {
  public:
    struct File {
        std::string content;
        TimePoint mtime = FakeClock::at(2009, 10, 16, 12, 0, 5);
    };
    explicit FakeRemote(SessionState& state) : state_(state) {}

    std::map<std::string, File> files;      // full paths: "/in/a.txt"
    int connectError = 0;                   // the error number connect() throws; 0: it connects
    bool setsTimes = true;                  // false: a server that cannot set modification times
    bool tellsSizeAndTime = true;           // false: an FTP server without SIZE and MDTM
    std::size_t keeps = std::string::npos;  // an upload keeps at most this many bytes
    std::vector<std::optional<std::int64_t>> expectedSizes;  // of every fetch, in order
    std::map<std::string, int> failures;  // "fetch /in/a.txt" -> the error number it throws
    std::string failureText;     // what every failure says; "": "<request> <path> rifiutato"
    std::size_t failsAfter = 0;  // bytes a failing fetch delivers, or a lost send leaves, first
    // Runs before every operation: a partner writing or replacing files meanwhile.
    std::function<void(const std::string& op, const std::string& path)> before;
    std::vector<std::string> calls;

    void put(const std::string& path, const std::string& content) { files[path] = {content}; }
    // Runs `change` just before the nth request named `op` (1: the first).
    void onRequest(const std::string& op, int nth, std::function<void()> change) {
        before = [=, seen = 0](const std::string& name, const std::string&) mutable {
            if (name == op && ++seen == nth) change();
        };
    }

    void connect() override {
        if (connectError)
            throw RuntimeError(connectError,
                               failureText.empty() ? "connessione non riuscita" : failureText);
    }
    RemoteListing list(const std::string& folder) override {
        op("list", folder);
        RemoteListing listing;
        for (const auto& [path, f] : files) {
            if (path.rfind(folder, 0) != 0 || path.find('/', folder.size()) != std::string::npos)
                continue;
            const std::time_t t = std::chrono::system_clock::to_time_t(f.mtime);
            std::tm tm{};
            ::gmtime_r(&t, &tm);
            listing.entries.push_back(
                {path.substr(folder.size()), RemoteEntry::Kind::File,
                 static_cast<std::int64_t>(f.content.size()),
                 ListedTime{0, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min}});
        }
        return listing;
    }
    RemoteStat stat(const std::string& path) override { return told(existing("stat", path)); }
    // Like the SFTP session, reads no more than the size it was told; `after` shows the rest.
    FetchResult fetch(const std::string& path, std::optional<std::int64_t> expectedSize,
                      ByteSink& into, std::int64_t from = 0) override {
        if (auto it = files.find(path); it != files.end() && failures.count("fetch " + path))
            into.write(it->second.content.data(), std::min(failsAfter, it->second.content.size()));
        const File& f = existing("fetch", path);
        expectedSizes.push_back(expectedSize);
        const std::string content =
            f.content.substr(0, static_cast<std::size_t>(expectedSize.value_or(f.content.size())))
                .substr(static_cast<std::size_t>(from));
        into.write(content.data(), content.size());
        state_.transferPercentage = 100;
        return {static_cast<std::int64_t>(content.size()), told(f)};
    }
    RemoteStat send(ByteSource& from, const std::string& path, SendPlan = {}) override {
        std::string content(static_cast<std::size_t>(from.size()), '\0');
        content.resize(from.readAt(0, content.data(), content.size()));
        // A connection lost in the middle leaves what had arrived under the final name.
        if (auto it = failures.find("send " + path);
            it != failures.end() && it->second == kErrConnection)
            files[path] = {content.substr(0, failsAfter)};
        op("send", path);
        files[path] = {content.substr(0, keeps)};
        return told(files[path]);
    }
    bool setModified(const std::string& path, TimePoint modified) override {
        existing("setModified", path);
        if (setsTimes) files[path].mtime = modified;
        return setsTimes;
    }
    void rename(const std::string& from, const std::string& to) override {
        files[to] = existing("rename", from);
        files.erase(from);
    }
    void remove(const std::string& path) override {
        existing("remove", path);
        files.erase(path);
    }
    void close() override { calls.push_back("close"); }
    void announce(SessionMoment, const std::string&, const std::string&) override {}
    std::string stateNote() const override { return ""; }
    void abort() override {}

  private:
    RemoteStat told(const File& f) const {
        if (!tellsSizeAndTime) return {};
        return {static_cast<std::int64_t>(f.content.size()), f.mtime};
    }
    void op(const std::string& name, const std::string& path) {
        calls.push_back(name + " " + path);
        if (before) before(name, path);
        if (auto it = failures.find(name + " " + path); it != failures.end())
            throw RuntimeError(
                it->second, failureText.empty() ? name + " " + path + " rifiutato" : failureText);
    }
    const File& existing(const std::string& name, const std::string& path) {
        op(name, path);
        auto it = files.find(path);
        if (it == files.end()) throw RuntimeError(kErrRemote, path + ": file inesistente");
        return it->second;
    }
    SessionState& state_;
};

}  // namespace vs::test
