#include "remote/sftp/libssh2_sftp_component.h"

#include <type_traits>

#include "common/runtime_error.h"
#include "common/text.h"
#include "remote/sftp/library_version.h"
#include "remote/sftp/paced_upload.h"
#include "remote/sftp/sftp_operations.h"

namespace vs {

std::unique_ptr<SftpComponent> makeLibssh2SftpComponent(YieldFn yield, BandwidthLimit* limit) {
    return std::make_unique<Libssh2SftpComponent>(std::move(yield), limit);
}

Libssh2SftpComponent::Libssh2SftpComponent(YieldFn yield, BandwidthLimit* limit)
    : limit_(limit), runner_(std::move(yield)) {}

Libssh2SftpComponent::~Libssh2SftpComponent() {
    // The worker goes first, so that the goodbye below runs on this thread alone; no yield
    // here, the caller may be tearing down its window.
    runner_.shutdown();
    session_.close(true);
}

void Libssh2SftpComponent::deliver(const sftp::ComponentEvent& event) {
    std::visit(
        [this](const auto& e) {
            using T = std::decay_t<decltype(e)>;
            if constexpr (std::is_same_v<T, sftp::LogEvent>) {
                if (logger_) logger_(e.line);
            } else if (events_) {
                if constexpr (std::is_same_v<T, sftp::ListItemsEvent>)
                    events_->ListItems(e.part);
                else if constexpr (std::is_same_v<T, sftp::AttributesEvent>)
                    events_->Attributes(e.size, e.uid, e.gid, e.permissions, e.accessTime,
                                        e.modificationTime);
                else if constexpr (std::is_same_v<T, sftp::ProgressEvent>)
                    events_->Progress(e.position, e.total);
            }
        },
        event);
}

void Libssh2SftpComponent::connect() {
    if (runner_.busy())
        throw RuntimeError(kErrGeneric,
                           "SFTP: impossibile connettersi mentre è in corso: " + runner_.current());
    // Once per run, so that the log tells which libssh2 (and so which security fixes) it had.
    if (!libraryLogged_ && logger_) logger_(" Libreria SSH: " + sftp::libraryDescription());
    libraryLogged_ = true;
    const sftp::ConnectSettings settings = settings_;
    bool ok = false;
    std::string error;
    state_ = kConnecting;
    failure_.clear();
    try {
        runner_.run(
            "connettersi a " + settings.host,
            [this, settings, &ok, &error](sftp::EventPoster& poster) {
                try {
                    // A session left over from an earlier cycle that ended early goes first.
                    lastFetched_.drop();
                    channels_.drop();
                    roundTrip_ = {};
                    session_.close(true);
                    session_.open(settings,
                                  [&poster](const std::string& line) { poster.log(line); });
                } catch (const RuntimeError& e) {
                    error = e.description();
                    throw;
                } catch (const std::exception& e) {
                    session_.close(false);
                    error = std::string("Connessione SFTP non riuscita: ") + e.what();
                    throw RuntimeError(kErrConnection, error);
                }
                ok = true;
            },
            [this](const sftp::ComponentEvent& e) { deliver(e); },
            [this] { session_.interrupt(); });
    } catch (...) {
        state_ = ok ? kConnected : kFailed;
        failure_ = error;
        throw;
    }
    state_ = kConnected;
    if (disconnectRequested_) closeSession();
}

void Libssh2SftpComponent::runRequest(
    const std::string& what, State during,
    const std::function<void(sftp::SshSession&, sftp::EventPoster&)>& request) {
    if (runner_.busy())
        throw RuntimeError(
            kErrGeneric, "SFTP: impossibile " + what + " mentre è in corso: " + runner_.current());
    const int before = state_.load();
    if (before != kConnected) {
        std::string why =
            before == kFailed && !failure_.empty() ? failure_ : "nessuna sessione SFTP aperta";
        throw RuntimeError(kErrConnection,
                           "SFTP: impossibile " + what + ": non connesso (" + why + ")");
    }
    state_ = during;
    transferring_ = during == kTransferring;
    struct After {
        Libssh2SftpComponent& c;
        ~After() {
            c.transferring_ = false;
            if (c.session_.broken()) {
                c.failure_ = c.session_.brokenReason();
                c.state_ = kFailed;
            } else {
                c.state_ = kConnected;
            }
            if (c.disconnectRequested_) c.closeSession();
        }
    } after{*this};
    runner_.run(
        what,
        [this, &request, &what](sftp::EventPoster& poster) {
            if (!session_.usable())
                throw RuntimeError(kErrConnection, "SFTP: impossibile " + what + ": non connesso");
            // The last fetched file's close travels with this request.
            lastFetched_.send(session_);
            struct Collect {
                Libssh2SftpComponent& c;
                ~Collect() { c.lastFetched_.collect(c.session_); }
            } collect{*this};
            try {
                request(session_, poster);
            } catch (const RuntimeError&) {
                throw;
            } catch (const std::exception& e) {
                // Out of memory and the like: still an error the operator can read.
                throw RuntimeError(kErrGeneric, "SFTP: impossibile " + what + ": " + e.what());
            }
        },
        [this](const sftp::ComponentEvent& e) { deliver(e); }, [this] { session_.interrupt(); });
}

void Libssh2SftpComponent::listFolder(const std::string& remoteFolder) {
    runRequest(
        "elencare " + visible(remoteFolder), kConnected,
        [&](sftp::SshSession& s, sftp::EventPoster& p) { sftp::listFolder(s, remoteFolder, p); });
}

void Libssh2SftpComponent::getAttributes(const std::string& remotePath) {
    runRequest(
        "leggere gli attributi di " + visible(remotePath), kConnected,
        [&](sftp::SshSession& s, sftp::EventPoster& p) { sftp::readAttributes(s, remotePath, p); });
}

std::vector<StatOutcome> Libssh2SftpComponent::getAttributesOfAll(
    const std::vector<std::string>& remotePaths) {
    std::vector<StatOutcome> outcomes;
    runRequest("leggere gli attributi di " + std::to_string(remotePaths.size()) + " file",
               kConnected, [&](sftp::SshSession& s, sftp::EventPoster&) {
                   outcomes = sftp::readAttributesTogether(s, channels_, remotePaths);
               });
    return outcomes;
}

std::int64_t Libssh2SftpComponent::fetch(ByteSink& into, const std::string& remotePath,
                                         std::optional<std::int64_t> expectedSize,
                                         std::int64_t from) {
    std::int64_t received = 0;
    runRequest("scaricare " + visible(remotePath), kTransferring,
               [&](sftp::SshSession& s, sftp::EventPoster& p) {
                   received =
                       sftp::fetchFile(s, into, remotePath, expectedSize, from, lastFetched_,
                                       limit_, p);
               });
    return received;
}

void Libssh2SftpComponent::send(ByteSource& from, const std::string& remotePath,
                                std::int64_t offset, bool keepPartial) {
    runRequest(
        "inviare " + visible(remotePath), kTransferring,
        [&](sftp::SshSession& s, sftp::EventPoster& p) {
            // Requests of the upload's own go on the session's channel: libssh2's last one is
            // answered first.
            if (sftp::goesPaced({offset, keepPartial}, from.size(), limit_))
                lastFetched_.collect(s);
            sftp::sendFile(s, from, remotePath, {offset, keepPartial}, roundTrip_, channels_, limit_,
                           p);
        });
}

void Libssh2SftpComponent::setModified(const std::string& remotePath, TimePoint modified) {
    runRequest("impostare la data di " + visible(remotePath), kConnected,
               [&](sftp::SshSession& s, sftp::EventPoster& p) {
                   sftp::setModified(s, remotePath, modified, p);
               });
}

void Libssh2SftpComponent::rename(const std::string& from, const std::string& to) {
    runRequest(
        "rinominare " + visible(from), kConnected,
        [&](sftp::SshSession& s, sftp::EventPoster& p) { sftp::renameFile(s, from, to, p); });
}

void Libssh2SftpComponent::remove(const std::string& remotePath) {
    runRequest(
        "cancellare " + visible(remotePath), kConnected,
        [&](sftp::SshSession& s, sftp::EventPoster& p) { sftp::removeFile(s, remotePath, p); });
}

void Libssh2SftpComponent::closeSession() {
    disconnectRequested_ = false;
    try {
        runner_.run(
            "disconnect",
            [this](sftp::EventPoster&) {
                lastFetched_.drop();
                channels_.drop();
                session_.close(true);
            },
            [this](const sftp::ComponentEvent& e) { deliver(e); },
            [this] { session_.interrupt(); });
    } catch (...) {
        // Closing never fails for the caller; whatever went wrong, the session is gone.
    }
    state_ = kIdle;
    failure_.clear();
}

void Libssh2SftpComponent::disconnect() {
    if (runner_.busy()) {
        // Called from inside an event or the yield callable while an operation runs: end that
        // operation early and close once it has returned.
        disconnectRequested_ = true;
        runner_.requestAbort();
        return;
    }
    closeSession();
}

void Libssh2SftpComponent::abort() {
    if (runner_.busy() && transferring_) runner_.requestAbort();
}

}  // namespace vs
