#include "remote/sftp_session.h"

#include <algorithm>

#include "activitylog/activity_log.h"
#include "common/byte_stream.h"
#include "common/port_text.h"
#include "common/runtime_error.h"
#include "common/text.h"
#include "settings/settings.h"

namespace vs {

SftpSession::SftpSession(SessionState& state, const ServerFields& server, ActivityLog& log,
                         const Clock& clock, YieldFn yield, Pause pause, SftpComponent* component,
                         std::string knownHostsFile, const std::string& keyfile,
                         const std::string& keyPassphrase,
                         const std::chrono::milliseconds& fetchPause)
    : state_(state),
      server_(server),
      log_(log),
      clock_(clock),
      yield_(std::move(yield)),
      pause_(std::move(pause)),
      component_(component),
      knownHostsFile_(std::move(knownHostsFile)),
      keyfile_(keyfile),
      keyPassphrase_(keyPassphrase),
      fetchPause_(fetchPause),
      thousands_(localeThousandsSeparator()) {
    if (component_) {
        component_->setEvents(this);
        component_->setLogger([this](const std::string& message) { line(message); });
    }
}

void SftpSession::line(const std::string& text) {
    log_.scrivi_log(timeOfDay(clock_) + text);
}

SftpComponent& SftpSession::Sftp1() const {
    if (!component_)
        throw RuntimeError(kErrGeneric,
                           "Oggetto SFTP non disponibile: riavviare il programma con il tipo "
                           "server Sftp");
    return *component_;
}

void SftpSession::connetti_sftp() {
    line(" Connecting Sftp...");
    try {
        std::string host = server_.txtHost;
        SftpComponent& sftp = Sftp1();
        sftp.setUserName(server_.txtLogin);
        if (const size_t colon = server_.txtHost.find(':'); colon != std::string::npos) {
            sftp.setPort(portFromText(server_.txtHost.substr(colon + 1)));
            host = server_.txtHost.substr(0, colon);
        }
        sftp.setPassword(server_.txtPwd);
        sftp.setHostName(host);
        sftp.setReservedOption(0);
        sftp.setBlocking(true);
        sftp.setTimeout(20);
        sftp.setPrivateKeyFile(keyfile_, keyPassphrase_);
        sftp.setKnownHostsFile(knownHostsFile_);
        sftp.connect();
    } catch (const RuntimeError& e) {
        // The component's refusal carries no time; an error of the attempt itself does.
        if (e.number() == kErrConnection)
            log_.scrivi_log("Connect Failed " + e.description());
        else
            line(" Connecting Sftp Error " + e.description());
        throw;
    }
    line(" Connected");
}

RemoteListing SftpSession::list(const std::string& folder) {
    RemoteListing listing;
    listing_ = &listing;
    struct Done {
        SftpSession& s;
        ~Done() { s.listing_ = nullptr; }
    } done{*this};
    Sftp1().listFolder(folder);
    return listing;
}

RemoteStat SftpSession::stat(const std::string& path) {
    attributes_ = {};
    Sftp1().getAttributes(path);
    return attributes_;
}

FetchResult SftpSession::fetch(const std::string& path, std::optional<std::int64_t> expectedSize,
                               ByteSink& into, std::int64_t from) {
    attributes_ = {};
    FetchResult result;
    result.received = Sftp1().fetch(into, path, expectedSize, from);
    result.after = attributes_;
    return result;
}

RemoteStat SftpSession::send(ByteSource& from, const std::string& path, SendPlan plan) {
    state_.transferPercentage = 0;
    attributes_ = {};
    Sftp1().send(from, path, plan.offset, plan.keepPartial);
    // Only the completing progress event says the file arrived.
    if (state_.transferPercentage != 100)
        throw RuntimeError(kErrRemote, "Invio di " + visible(path) + " non completato");
    return attributes_;  // what the server holds, when the component could ask it
}

std::int64_t SftpSession::resumableBytes(const std::string& path) {
    // Writes go out ahead of their confirmations: the last of them may have been lost, or
    // served out of order, when the upload was cut off.
    constexpr std::int64_t kStep = 64 * 1024;
    return std::max<std::int64_t>(0, stat(path).size.value_or(0) - kSftpMostUnconfirmed) / kStep *
           kStep;
}

bool SftpSession::setModified(const std::string& path, TimePoint modified) {
    Sftp1().setModified(path, modified);
    return true;
}

void SftpSession::rename(const std::string& from, const std::string& to) {
    Sftp1().rename(from, to);
}

void SftpSession::remove(const std::string& path) {
    Sftp1().remove(path);
}

void SftpSession::close() {
    if (component_) component_->disconnect();
}

void SftpSession::announce(SessionMoment moment, const std::string& remotePath,
                           const std::string& localPath) {
    switch (moment) {
        case SessionMoment::Describing:
            line(" Sftp1.GetAttributes " + visible(remotePath));
            break;
        case SessionMoment::Fetching:
            if (pause_ && fetchPause_ > fetchPause_.zero()) pause_(fetchPause_);
            line(" Downloading file " + visible(localPath) + " " + visible(remotePath));
            break;
        case SessionMoment::Sending:
            line(" Devo inviare il file " + visible(remotePath));
            break;
        case SessionMoment::BackedUp:
            line(" Backup file " + visible(remotePath));
            break;
    }
}

std::string SftpSession::stateNote() const {
    return component_ ? " " + std::to_string(component_->stateCode()) : std::string();
}

void SftpSession::ListItems(const RemoteListing& part) {
    if (!listing_) return;
    listing_->entries.insert(listing_->entries.end(), part.entries.begin(), part.entries.end());
    listing_->unreadable += part.unreadable;
}

void SftpSession::Attributes(std::int64_t size, std::uint32_t, std::uint32_t, std::uint32_t,
                             TimePoint, TimePoint modificationTime) {
    attributes_.size = size;
    attributes_.modified = modificationTime;
}

void SftpSession::Progress(std::int64_t position, std::int64_t total) {
    ++state_.transferActivity;  // each event reports bytes moved since the last
    if (state_.currentOperation == "Upload" && position > 0 && total != position)
        line(" Inviato " + groupedNumber(position, thousands_));
    if (yield_) {
        yield_();
        yield_();
    }
    if (state_.currentOperation == "Download" && position > 0 && total != position)
        line(" Scaricato " + groupedNumber(position, thousands_));
    if (yield_) yield_();
    if (state_.abortRequest) {
        if (component_) component_->abort();
        state_.abortRequest = false;
    }
    if (total == position) state_.transferPercentage = 100;
}

}  // namespace vs
