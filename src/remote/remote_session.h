#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/clock.h"
#include "common/runtime_error.h"
#include "remote/remote_listing.h"

namespace vs {

class ByteSink;
class ByteSource;

// What a server says of one file; a value the server did not give stays empty, never a
// number a file could have.
struct RemoteStat {
    std::optional<std::int64_t> size;
    std::optional<TimePoint> modified;
};

// One file's part of a request for several: its attributes, or the server's refusal to give
// them (the error stat() would have thrown).
struct StatOutcome {
    RemoteStat stat;
    std::optional<RuntimeError> refusal;
};

// What a download brought: the bytes received, and the server's word on the file as it was once
// the last of them had been read (the version the copy holds).
struct FetchResult {
    std::int64_t received = 0;
    RemoteStat after;
};

// How an upload goes: from the start, or on from `offset` into what an earlier upload of the
// same file left at the path. `keepPartial`: a failed upload leaves what arrived, for a later
// one to go on from.
struct SendPlan {
    std::int64_t offset = 0;
    bool keepPartial = false;
};

// Fixed moments of a cycle at which a protocol does or says something of its own.
enum class SessionMoment {
    Describing,  // a listed file's attributes are about to be asked for
    Fetching,    // a file is about to be fetched (local: where it is shown to land)
    Sending,     // a file is about to be sent
    BackedUp,    // a sent file's backup copy was made
};

// The cycle's one view of a server session, whatever the protocol: it asks for what it needs
// and never which protocol it has.
//
// Error contract: an operation either does its work or throws RuntimeError with
//   kErrConnection  the session is gone (the cycle ends),
//   kErrRemote      the server refused this one request (the file or folder is skipped),
//   kErrAborted     the transfer was aborted (operator, shutdown),
//   a local file error number when the local side failed.
// connect() throws the same way: kErrConnection when the server could not be reached or refused
// us (the cycle ends), any other number when the attempt could not even be made (a port that
// is not a number, no component). The session flags (connected, connect-failed) live in
// SessionState and are the cycle's to set from that outcome.
class RemoteSession {
  public:
    virtual ~RemoteSession() = default;

    // Opens the session, writing the protocol's own lines of the attempt, its failure included.
    virtual void connect() = 0;
    virtual RemoteListing list(const std::string& folder) = 0;
    virtual RemoteStat stat(const std::string& path) = 0;
    // The attributes of several files, one outcome per path in order; a session may send the
    // requests together. A refusal concerns its file alone; a lost connection is thrown.
    virtual std::vector<StatOutcome> statAll(const std::vector<std::string>& paths) {
        std::vector<StatOutcome> outcomes;
        for (const std::string& path : paths) {
            try {
                outcomes.push_back({stat(path), std::nullopt});
            } catch (const RuntimeError& e) {
                if (e.number() == kErrConnection) throw;
                outcomes.push_back({{}, e});
            }
        }
        return outcomes;
    }
    // Downloads into `into`. `expectedSize` is the size the server described before, when it
    // gave one: a session may read no more than that (a file that grew since shows it in
    // `after`). `from`: the bytes the caller already holds; the transfer starts there and
    // `received` counts from there.
    virtual FetchResult fetch(const std::string& path, std::optional<std::int64_t> expectedSize,
                              ByteSink& into, std::int64_t from = 0) = 0;
    // Uploads the whole file; returns once the server acknowledged all of it, with what the
    // server then says it holds (a size it does not tell stays empty: a server that
    // acknowledges bytes it did not keep shows here). A failed or aborted upload leaves no
    // partial file behind on the server (best effort, logged), unless the plan keeps it.
    virtual RemoteStat send(ByteSource& from, const std::string& path, SendPlan plan = {}) = 0;
    // The bytes at the start of `path` that an earlier upload certainly wrote in order: where a
    // resumed upload goes on (FTP appends, so there it is the file's size).
    virtual std::int64_t resumableBytes(const std::string& path) {
        return stat(path).size.value_or(0);
    }
    // Sets the file's modification time on the server; false when the server offers no way.
    virtual bool setModified(const std::string& path, TimePoint modified) = 0;
    // Replaces `to` with `from` on the server.
    virtual void rename(const std::string& from, const std::string& to) = 0;
    virtual void remove(const std::string& path) = 0;
    virtual void close() = 0;  // never throws
    // Ends the running transfer as soon as it can (it then fails with kErrAborted); called from
    // the program's own events while a transfer runs, and harmless at any other time.
    virtual void abort() = 0;
    virtual void announce(SessionMoment moment, const std::string& remotePath,
                          const std::string& localPath) = 0;
    // What the error line of a failed step adds about the session ("" for none).
    virtual std::string stateNote() const = 0;
};

}  // namespace vs
