#pragma once

// In-memory remote servers behind the component interfaces, for the cycle's unit tests.
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/runtime_error.h"
#include "remote/ftp_control.h"
#include "remote/sftp_component.h"
#include "support/fake_clock.h"
#include "support/temp_dir.h"

namespace vs::test {

struct RemoteFile {
    std::string content;
    TimePoint mtime = FakeClock::at(2009, 10, 16, 12, 0, 5);
};

// Remote folders as a map of full paths ("/in/a.txt") to files.
struct RemoteTree {
    std::map<std::string, RemoteFile> files;
    std::set<std::string> folders{"/"};

    void put(const std::string& path, const std::string& content,
             TimePoint mtime = FakeClock::at(2009, 10, 16, 12, 0, 5)) {
        files[path] = {content, mtime};
        folders.insert(path.substr(0, path.rfind('/') + 1));
    }
    bool has(const std::string& path) const { return files.count(path) != 0; }
    // Names directly under a folder ending in "/".
    std::vector<std::string> namesIn(const std::string& folder) const {
        std::vector<std::string> names;
        for (const auto& [path, f] : files)
            if (path.rfind(folder, 0) == 0 && path.find('/', folder.size()) == std::string::npos)
                names.push_back(path.substr(folder.size()));
        return names;
    }
};

inline std::string listingLine(const std::string& name, std::size_t size, bool dir = false) {
    return std::string(dir ? "drwxr-xr-x" : "-rw-r--r--") + " 1 user group " +
           std::to_string(size) + " Oct 16 14:30 " + name;
}

class FakeSftp final : public SftpComponent {
  public:
    RemoteTree& tree;
    explicit FakeSftp(RemoteTree& t) : tree(t) {}

    std::vector<std::string> calls;
    std::string user, password, host, keyFile, knownHosts;
    int port = 22;
    int refuseCode = 0;  // non-zero: Connected reports a failure
    std::string refuseText = "Authentication failed";
    std::size_t batch = 0;                       // lines per ListItems event; 0 = all
    std::vector<std::string> extraListingLines;  // appended to every listing
    std::set<std::string> failFetch;             // remote paths whose fetch throws
    int failFetchNumber = kErrRemote;
    std::function<void(const std::string&)> beforeFetch;  // e.g. change the file meanwhile
    std::function<void(const std::string&)> onProgress;   // runs inside each progress event
    bool sendReachesEnd = true;  // false: the send ends without its completing event
    bool aborted = false;

    void setEvents(SftpEvents* e) override { events_ = e; }
    void setLogger(std::function<void(const std::string&)>) override {}
    void setUserName(const std::string& v) override { user = v; }
    void setPort(int p) override { port = p; }
    void setPassword(const std::string& v) override { password = v; }
    void setHostName(const std::string& v) override { host = v; }
    void setReservedOption(int) override {}
    void setBlocking(bool) override {}
    void setTimeout(int) override {}
    void setPrivateKeyFile(const std::string& p) override { keyFile = p; }
    void setKnownHostsFile(const std::string& p) override { knownHosts = p; }

    void connect() override {
        calls.push_back("connect " + host + ":" + std::to_string(port));
        connected = refuseCode == 0;
        events_->Connected(refuseCode, refuseCode ? refuseText : "");
    }
    bool connected = false;
    void requireConnection() const {
        if (!connected) throw RuntimeError(kErrConnection, "Non connesso");
    }
    void listFolder(const std::string& folder) override {
        requireConnection();
        calls.push_back("list " + folder);
        if (!tree.folders.count(folder)) throw RuntimeError(kErrRemote, "No such file: " + folder);
        std::vector<std::string> lines;
        for (const std::string& n : tree.namesIn(folder))
            lines.push_back(listingLine(n, tree.files[folder + n].content.size()));
        lines.insert(lines.end(), extraListingLines.begin(), extraListingLines.end());
        std::string chunk;
        std::size_t inChunk = 0;
        for (const std::string& l : lines) {
            chunk += l + "\r\n";
            if (batch && ++inChunk == batch) {
                events_->ListItems(chunk);
                chunk.clear();
                inChunk = 0;
            }
        }
        if (!chunk.empty() || lines.empty()) events_->ListItems(chunk);
    }
    void getAttributes(const std::string& path) override {
        requireConnection();
        calls.push_back("stat " + path);
        auto it = tree.files.find(path);
        if (it == tree.files.end()) throw RuntimeError(kErrRemote, "No such file: " + path);
        events_->Attributes(static_cast<std::int64_t>(it->second.content.size()), 0, 0, 0644,
                            it->second.mtime, it->second.mtime);
    }
    void fetch(const std::string& local, const std::string& remote) override {
        requireConnection();
        calls.push_back("fetch " + remote);
        if (beforeFetch) beforeFetch(remote);
        if (failFetch.count(remote)) throw RuntimeError(failFetchNumber, "fetch failed: " + remote);
        auto it = tree.files.find(remote);
        if (it == tree.files.end()) throw RuntimeError(kErrRemote, "No such file: " + remote);
        const auto size = static_cast<std::int64_t>(it->second.content.size());
        progress(size / 2, size);
        if (aborted) {
            aborted = false;
            throw RuntimeError(kErrRemote, "Trasferimento interrotto");
        }
        writeFile(local, it->second.content);
        progress(size, size);
    }
    void send(const std::string& local, const std::string& remote) override {
        requireConnection();
        calls.push_back("send " + remote);
        const std::string content = readFile(local);
        const auto size = static_cast<std::int64_t>(content.size());
        progress(size / 2, size);
        if (!sendReachesEnd) return;
        tree.put(remote, content);
        progress(size, size);
    }
    void remove(const std::string& path) override {
        requireConnection();
        calls.push_back("remove " + path);
        if (!tree.files.erase(path)) throw RuntimeError(kErrRemote, "No such file: " + path);
    }
    void disconnect() override {
        connected = false;
        calls.push_back("disconnect");
    }
    void abort() override { aborted = true; }
    int stateCode() const override { return 2; }

  private:
    void progress(std::int64_t pos, std::int64_t total) {
        if (onProgress) onProgress("progress");
        events_->Progress(pos, total);
    }
    SftpEvents* events_ = nullptr;
};

class FakeFtp final : public FtpControl {
  public:
    RemoteTree& tree;
    explicit FakeFtp(RemoteTree& t) : tree(t) {}

    std::vector<std::string> calls;
    bool refuseLogin = false;
    bool refuseDelete = false;
    std::set<std::string> failFetch;
    std::string rawListing;  // when set, returned instead of the tree's listing
    std::string cwd = "/";
    std::string error;
    int port = 0;
    std::string host;

    void setProgressHandler(ProgressHandler h) override { progress_ = std::move(h); }
    void setLogger(std::function<void(const std::string&)>) override {}
    void prepare(int v) override { calls.push_back("prepare " + std::to_string(v)); }
    void reset() override { calls.push_back("reset"); }
    bool connectAndLogin(const std::string& h, const std::string&, const std::string&,
                         int p) override {
        host = h;
        port = p;
        calls.push_back("login " + h + ":" + std::to_string(p));
        if (refuseLogin) error = "530 Login incorrect.";
        return !refuseLogin;
    }
    std::string errorText() const override { return error; }
    bool changeDirectory(const std::string& folder) override {
        calls.push_back("cwd " + folder);
        if (!tree.folders.count(folder)) {
            error = "550 " + folder + ": No such file or directory.";
            return false;
        }
        cwd = folder;
        return true;
    }
    bool listDirectory(std::string& listing, int, long) override {
        calls.push_back("list");
        if (!rawListing.empty()) {
            listing = rawListing;
            return true;
        }
        listing.clear();
        for (const std::string& n : tree.namesIn(cwd)) {
            if (!listing.empty()) listing += "\r\n";
            listing += listingLine(n, tree.files[cwd + n].content.size());
        }
        return true;
    }
    bool querySize(std::int64_t& size, const std::string& path, bool) override {
        calls.push_back("size " + path);
        auto it = tree.files.find(path);
        if (it == tree.files.end()) return false;
        size = static_cast<std::int64_t>(it->second.content.size());
        return true;
    }
    void setTransferMode(bool) override {}
    bool fetch(const std::string& remote, const std::string& local) override {
        calls.push_back("fetch " + remote);
        if (failFetch.count(remote) || !tree.has(remote)) return false;
        report(50);
        writeFile(local, tree.files[remote].content);
        report(100);
        return true;
    }
    void send(const std::string& local, const std::string& remote) override {
        calls.push_back("send " + remote);
        report(40);
        tree.put(remote, readFile(local));
        report(100);
    }
    bool remove(const std::string& path) override {
        calls.push_back("delete " + path);
        if (refuseDelete) {
            error = "550 Permission denied.";
            return false;
        }
        return tree.files.erase(path) != 0;
    }
    void abort() override { calls.push_back("abort"); }
    void close() override { calls.push_back("close"); }

  private:
    void report(int p) {
        std::uint8_t v = static_cast<std::uint8_t>(p);
        if (progress_) progress_(v);
    }
    ProgressHandler progress_;
};

}  // namespace vs::test
