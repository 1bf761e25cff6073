#include "remote/ftp/curl_ftp_control.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>

#include "common/runtime_error.h"
#include "common/text.h"
#include "remote/ftp/ftp_path.h"

namespace vs {
namespace {

// The caller's window must never wait longer than this for its events.
constexpr auto kYieldEvery = std::chrono::milliseconds(40);
// Large buffers keep the per-slice overhead small on fast links.
constexpr long kBufferSize = 512 * 1024;
// More than any real folder listing; protects memory from a server that never stops.
constexpr size_t kMaxListingBytes = 64u * 1024 * 1024;

// Whether libcurl keeps the control connection after an operation ended this way: a server's
// refusal leaves it open, anything else (abort, time-out, broken link) closes it.
bool leavesLinkOpenAfter(CURLcode code) {
    switch (code) {
        case CURLE_OK:
        case CURLE_REMOTE_FILE_NOT_FOUND:
        case CURLE_REMOTE_ACCESS_DENIED:
        case CURLE_UPLOAD_FAILED:
        case CURLE_FTP_COULDNT_RETR_FILE:
        case CURLE_WRITE_ERROR:
            return true;
        default:
            return false;
    }
}

void initCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct SlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using Slist = std::unique_ptr<curl_slist, SlistDeleter>;

}  // namespace

// Every public operation runs inside one of these: one operation at a time (the caller's
// events may try to start another from the yield), a clean error state to start with, and a
// close asked for meanwhile carried out once the operation has unwound.
class CurlFtpControl::Operation {
  public:
    explicit Operation(CurlFtpControl& control) : control_(control) {
        if (control_.busy_) throw RuntimeError(kErrGeneric, "Operazione FTP ancora in corso");
        control_.localFailure_ = nullptr;
        control_.shrank_ = false;
        control_.overflow_ = false;
        control_.overLimit_ = false;
        control_.abortRequested_ = false;  // abort() and close() act on running work only
        control_.closeRequested_ = false;
    }
    ~Operation() {
        if (control_.closeRequested_) control_.close();
    }
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

  private:
    CurlFtpControl& control_;
};

CurlFtpControl::CurlFtpControl(YieldFn yield, FtpLimits limits, BandwidthLimit* bandwidth)
    : yield_(std::move(yield)), limits_(limits), bandwidth_(bandwidth) {
    initCurlOnce();
}

CurlFtpControl::~CurlFtpControl() {
    // The owner may be half gone already: say goodbye to the server without calling back.
    yield_ = nullptr;
    progress_ = nullptr;
    activity_ = nullptr;
    logger_ = nullptr;
    busy_ = false;
    close();
}

void CurlFtpControl::setProgressHandler(ProgressHandler handler) {
    progress_ = std::move(handler);
}

void CurlFtpControl::setLogger(std::function<void(const std::string&)> logger) {
    logger_ = std::move(logger);
}

void CurlFtpControl::log(const std::string& message) const {
    if (logger_) logger_(message);
}

void CurlFtpControl::prepare(int value) {
    if (value >= 1000) {
        limits_.connectTimeout = std::chrono::milliseconds(value);
        limits_.replyTimeout = std::chrono::seconds((value + 999) / 1000);
    }
}

void CurlFtpControl::reset() {
    if (busy_) throw RuntimeError(kErrGeneric, "Operazione FTP ancora in corso");
    closeConnection();
    binary_ = true;
    abortRequested_ = false;
}

bool CurlFtpControl::ensureHandles() {
    if (!multi_) multi_ = curl_multi_init();
    if (!easy_) {
        easy_ = curl_easy_init();
        if (easy_) {
            CURL* h = easy_;
            // Only the FTP of the session, never anything a server or a URL could redirect
            // us to.
            curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, implicitTls_ ? "ftps" : "ftp");
            curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "ftp");
            curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
            // The data connection goes to the host we logged in to, whatever PASV says.
            curl_easy_setopt(h, CURLOPT_FTP_SKIP_PASV_IP, 1L);
            // Absolute paths in every command: no CWD dance, and the session's folder on
            // the server never matters, even after a silent reconnection.
            curl_easy_setopt(h, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_NOCWD));
            curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
            curl_easy_setopt(h, CURLOPT_TCP_KEEPALIVE, 1L);
            // Keep the control connection for the whole cycle, however long a job takes.
            curl_easy_setopt(h, CURLOPT_MAXAGE_CONN, 24L * 3600);
            // Under a bandwidth limit a download is read a step at a time: what one read
            // takes off the connection is what the server sends next.
            curl_easy_setopt(h, CURLOPT_BUFFERSIZE,
                             bandwidth_ ? static_cast<long>(bandwidth_->step()) : kBufferSize);
            // Uploads go out in the library's own 64 KiB pieces: larger pieces only make the
            // sending burstier and measured slower against a busy server.
            curl_easy_setopt(h, CURLOPT_ERRORBUFFER, curlMessage_);
            curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &CurlFtpControl::onWrite);
            curl_easy_setopt(h, CURLOPT_WRITEDATA, this);
            curl_easy_setopt(h, CURLOPT_READFUNCTION, &CurlFtpControl::onRead);
            curl_easy_setopt(h, CURLOPT_READDATA, this);
            curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &CurlFtpControl::onHeader);
            curl_easy_setopt(h, CURLOPT_HEADERDATA, this);
            curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &CurlFtpControl::onProgress);
            curl_easy_setopt(h, CURLOPT_XFERINFODATA, this);
            curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
            curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
        }
    }
    return multi_ && easy_;
}

void CurlFtpControl::applyLimits() {
    curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(limits_.connectTimeout.count()));
    curl_easy_setopt(easy_, CURLOPT_SERVER_RESPONSE_TIMEOUT,
                     static_cast<long>(limits_.replyTimeout.count()));
    curl_easy_setopt(easy_, CURLOPT_LOW_SPEED_TIME,
                     static_cast<long>(limits_.lowSpeedTime.count()));
}

CurlFtpControl::Run CurlFtpControl::perform(Mode mode, const std::string& url, curl_slist* quote) {
    Run run;
    mode_ = mode;
    const bool transfer = mode == Mode::Download || mode == Mode::Upload;
    applyLimits();
    curl_easy_setopt(easy_, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy_, CURLOPT_NOBODY,
                     (mode == Mode::Command || mode == Mode::Info) ? 1L : 0L);
    curl_easy_setopt(easy_, CURLOPT_UPLOAD, mode == Mode::Upload ? 1L : 0L);
    curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST,
                     mode == Mode::Listing && mlsd_ ? "MLSD" : static_cast<const char*>(nullptr));
    curl_easy_setopt(easy_, CURLOPT_QUOTE, quote);
    curl_easy_setopt(easy_, CURLOPT_TRANSFERTEXT, transfer && !binary_ ? 1L : 0L);
    curl_easy_setopt(easy_, CURLOPT_INFILESIZE_LARGE,
                     static_cast<curl_off_t>(mode == Mode::Upload ? total_ - startOffset_ : -1));
    curlMessage_[0] = '\0';
    replies_.startOperation();
    if (tls_) tls_->clearRefusal();

    busy_ = true;
    CURLMcode added = curl_multi_add_handle(multi_, easy_);
    if (added != CURLM_OK) {
        busy_ = false;
        run.code = CURLE_FAILED_INIT;
        snprintf(curlMessage_, sizeof curlMessage_, "%s", curl_multi_strerror(added));
        return run;
    }
    struct Finish {
        CurlFtpControl* self;
        ~Finish() {
            if (self->paused_) {
                // A transfer that ended held back: what libcurl still holds of it goes nowhere.
                self->paused_ = false;
                self->mode_ = Mode::Command;
                curl_easy_pause(self->easy_, CURLPAUSE_CONT);
            }
            curl_multi_remove_handle(self->multi_, self->easy_);
            self->sink_ = nullptr;
            self->source_ = nullptr;
            curl_easy_setopt(self->easy_, CURLOPT_RESUME_FROM_LARGE, static_cast<curl_off_t>(0));
            curl_easy_setopt(self->easy_, CURLOPT_APPEND, 0L);
            self->progressActive_ = false;
            curl_easy_setopt(self->easy_, CURLOPT_QUOTE, static_cast<curl_slist*>(nullptr));
            self->busy_ = false;
        }
    } finish{this};

    lastYield_ = std::chrono::steady_clock::now();
    pendingException_ = nullptr;
    linkAlive_ = false;  // until the operation has ended in a way that keeps it
    for (;;) {
        int running = 0;
        CURLMcode mc = curl_multi_perform(multi_, &running);
        if (mc != CURLM_OK) {
            run.code = CURLE_FAILED_INIT;
            snprintf(curlMessage_, sizeof curlMessage_, "%s", curl_multi_strerror(mc));
            break;
        }
        bool done = false;
        int queued = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi_, &queued)) {
            if (msg->msg == CURLMSG_DONE && msg->easy_handle == easy_) {
                run.code = msg->data.result;
                done = true;
            }
        }
        if (done) break;
        if (pendingException_) break;
        pump();
        if (pendingException_) break;
        if (abortRequested_) {
            run.code = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(
            kYieldEvery - (std::chrono::steady_clock::now() - lastYield_));
        if (paused_) {
            // Held back by the bandwidth limit: nothing to poll for until it lets data move.
            const auto held = bandwidth_->wait();
            if (held == held.zero()) {
                paused_ = false;
                curl_easy_pause(easy_, CURLPAUSE_CONT);
            } else {
                std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
                    held, std::max(wait, std::chrono::milliseconds(1))));
            }
            continue;
        }
        curl_multi_poll(multi_, nullptr, 0, static_cast<int>(std::max<long long>(wait.count(), 1)),
                        nullptr);
    }
    if (pendingException_) std::rethrow_exception(std::exchange(pendingException_, nullptr));
    run.aborted = abortRequested_ && run.code == CURLE_ABORTED_BY_CALLBACK;
    linkAlive_ = !run.aborted && leavesLinkOpenAfter(run.code);
    return run;
}

void CurlFtpControl::pump() {
    // Progress first: the handler may ask for an abort that the caller's events then need
    // not wait for.
    deliverProgress(false);
    auto now = std::chrono::steady_clock::now();
    if (!abortRequested_ && now - lastYield_ >= kYieldEvery) {
        if (yield_) yield_();
        lastYield_ = std::chrono::steady_clock::now();
    }
}

CurlFtpControl::Run CurlFtpControl::runCommands(std::initializer_list<std::string> commands) {
    // The "*" lets libcurl go on when the server refuses: a refused command then leaves the
    // control connection open, and the last reply is judged here.
    Slist list;
    for (const std::string& command : commands)
        list.reset(curl_slist_append(list.release(), ("*" + command).c_str()));
    Run run = perform(Mode::Command, url("/", true), list.get());
    if (run.code == CURLE_OK && !run.aborted) {
        const auto& replies = replies_.replies();
        if (replies.empty() || replies.back().code >= 400) run.code = CURLE_QUOTE_ERROR;
    }
    return run;
}

void CurlFtpControl::deliverProgress(bool finished) {
    if (!progressActive_) return;
    int percent;
    if (finished) {
        percent = 100;
    } else {
        if (total_ <= 0) return;
        // 100 means "the file arrived", which only the end of the transfer can tell.
        percent = static_cast<int>(std::min<std::int64_t>(done_ * 100 / total_, 99));
    }
    if (percent == lastPercent_) return;
    lastPercent_ = percent;
    if (progress_) {
        auto value = static_cast<std::uint8_t>(percent);
        progress_(value);
    }
}

void CurlFtpControl::fail(int number, const std::string& text) const {
    throw RuntimeError(number, text);
}

void CurlFtpControl::failWith(const Run& run) const {
    if (run.aborted) fail(kErrAborted, "Trasferimento FTP interrotto");
    if (overflow_) fail(kErrRemote, "Elenco FTP troppo grande");
    // A certificate refused on a silent reconnection ends the session like a lost link.
    const bool refused = tls_ && tls_->refusal();
    const int number = refused || ftp::isConnectionFailure(run.code) ? kErrConnection : kErrRemote;
    if (run.code == CURLE_QUOTE_ERROR && !replies_.lastRefusal())
        fail(number, "Nessuna risposta dal server FTP");
    fail(number, describe(run));
}

std::string CurlFtpControl::describe(const Run& run) const {
    // libcurl reports a certificate refused inside the handshake as some TLS failure with
    // text of its own that misleads: the operator needs ours.
    if (tls_ && tls_->refusal()) return tls_->refusal()->description();
    std::string text = ftp::describeFailure(run.code, curlMessage_, replies_);
    if (run.code == CURLE_USE_SSL_FAILED)
        return "Il server FTP non accetta TLS (" + text + "): nessun accesso senza TLS";
    return text;
}

std::string CurlFtpControl::url(std::string_view absolutePath, bool folder) const {
    std::string text = ftp::remoteUrl(host_, port_, absolutePath, folder);
    // libcurl speaks TLS from the first byte to an ftps:// URL.
    if (implicitTls_) text.insert(3, "s");
    return text;
}

std::string CurlFtpControl::checkedPath(const std::string& path) const {
    if (!connected_) fail(kErrConnection, "Sessione FTP non connessa");
    if (ftp::breaksCommandLine(path))
        fail(kErrRemote, "Nome FTP non ammesso (contiene CR, LF o NUL): " + visible(path));
    return ftp::resolveRemotePath(currentFolder_, path);
}

void CurlFtpControl::connectAndLogin(const std::string& host, const std::string& login,
                                     const std::string& password, int port) {
    Operation operation(*this);
    closeConnection();
    const std::optional<std::string> valid = ftp::urlHost(trimBlanks(host));
    if (!valid) fail(kErrConnection, "Nome host FTP non valido: " + visible(host));
    const std::string& urlHost = *valid;
    if (port < 1 || port > 65535)
        fail(kErrConnection, "Porta FTP non valida: " + std::to_string(port));
    if (ftp::breaksCommandLine(login) || ftp::breaksCommandLine(password))
        fail(kErrConnection, "Utente o password FTP con caratteri non ammessi (CR, LF o NUL)");
    implicitTls_ = security_.tls == Security::Tls::Implicit;
    if (!ensureHandles()) fail(kErrConnection, "Impossibile preparare la sessione FTP (libcurl)");

    host_ = urlHost;
    port_ = port;
    if (security_.tls != Security::Tls::None) {
        tls_ =
            std::make_unique<ftp::TlsPolicy>(urlHost, port, ftp::KnownCerts(security_.knownCerts),
                                             [this](const std::string& line) { log(line); });
        tls_->setCaFile(caFile_);
        try {
            tls_->apply(easy_);
        } catch (const RuntimeError&) {
            closeConnection();
            throw;
        }
    }
    curl_easy_setopt(easy_, CURLOPT_USERNAME, login.c_str());
    curl_easy_setopt(easy_, CURLOPT_PASSWORD, password.c_str());
    // Logging in runs PWD; FEAT then tells whether the server lists folders with MLSD.
    Slist feat(curl_slist_append(nullptr, "*FEAT"));
    Run run = perform(Mode::Command, url("/", true), feat.get());
    if (run.code != CURLE_OK) {
        std::string text = run.aborted ? "Connessione FTP interrotta" : describe(run);
        closeConnection();
        fail(kErrConnection, text);
    }
    connected_ = true;
    mlsd_ = replies_.offersFeature("MLST");
    mfmt_ = replies_.offersFeature("MFMT");
    char* entry = nullptr;
    curl_easy_getinfo(easy_, CURLINFO_FTP_ENTRY_PATH, &entry);
    currentFolder_ = entry && entry[0] == '/' ? ftp::resolveRemotePath("/", entry) : "/";
}

void CurlFtpControl::changeDirectory(const std::string& folder) {
    Operation operation(*this);
    const std::string target = checkedPath(folder);
    Run run = runCommands({"CWD " + target});
    if (run.code != CURLE_OK) failWith(run);
    currentFolder_ = target;
}

RemoteListing CurlFtpControl::listDirectory() {
    Operation operation(*this);
    checkedPath(currentFolder_);

    std::string raw;
    listing_ = &raw;
    const std::string folderUrl = url(currentFolder_, true);
    Run run = perform(Mode::Listing, folderUrl);
    if (run.code != CURLE_OK && !run.aborted && mlsd_) {
        // FEAT promised MLST but the server turned MLSD down as a command: use LIST from now on.
        const auto* refusal = replies_.lastRefusal();
        if (refusal && refusal->code >= 500 && refusal->code <= 504) {
            mlsd_ = false;
            log(" Elenco FTP: MLSD non accettato dal server, uso LIST");
            raw.clear();
            run = perform(Mode::Listing, folderUrl);
        }
    }
    listing_ = nullptr;
    if (run.code != CURLE_OK) failWith(run);

    return parseFtpListing(raw, mlsd_ ? ListingFormat::Mlsd : ListingFormat::List);
}

FtpControl::FileInfo CurlFtpControl::stat(const std::string& remotePath) {
    Operation operation(*this);
    const std::string target = checkedPath(remotePath);
    // A body-less request on a file: MDTM, TYPE I, SIZE, nothing transferred.
    curl_easy_setopt(easy_, CURLOPT_FILETIME, 1L);
    Run run = perform(Mode::Info, url(target, false));
    curl_easy_setopt(easy_, CURLOPT_FILETIME, 0L);
    if (run.code != CURLE_OK) failWith(run);
    FileInfo info;
    curl_off_t length = -1;
    curl_easy_getinfo(easy_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    if (length >= 0) info.size = length;
    curl_off_t time = -1;
    curl_easy_getinfo(easy_, CURLINFO_FILETIME_T, &time);
    if (time >= 0)
        info.modified = std::chrono::system_clock::from_time_t(static_cast<std::time_t>(time));
    return info;
}

std::int64_t CurlFtpControl::fetch(const std::string& remotePath, ByteSink& into,
                                   std::optional<std::int64_t> limit, std::int64_t from) {
    Operation operation(*this);
    const std::string target = checkedPath(remotePath);
    sink_ = &into;
    offset_ = from;
    startOffset_ = from;
    limit_ = limit.value_or(-1);
    progressActive_ = true;
    total_ = -1;
    done_ = 0;
    lastPercent_ = 0;
    // REST before RETR: the server sends the file from there on.
    if (from > 0) curl_easy_setopt(easy_, CURLOPT_RESUME_FROM_LARGE, static_cast<curl_off_t>(from));
    Run run = perform(Mode::Download, url(target, false));
    limit_ = -1;
    if (localFailure_) std::rethrow_exception(std::exchange(localFailure_, nullptr));
    if (overLimit_)
        fail(kErrRemote, "Download di " + visible(target) + " interrotto: il server invia più di " +
                             std::to_string(*limit) + " byte, molto più di quanto descritto");
    if (run.code != CURLE_OK) failWith(run);
    progressActive_ = true;
    deliverProgress(true);
    progressActive_ = false;
    return offset_ - from;
}

void CurlFtpControl::send(ByteSource& from, const std::string& remotePath, std::int64_t offset,
                          bool keepPartial) {
    Operation operation(*this);
    const std::string target = checkedPath(remotePath);
    source_ = &from;
    offset_ = offset;
    startOffset_ = offset;
    progressActive_ = true;
    total_ = from.size();
    done_ = 0;
    lastPercent_ = 0;
    // APPE instead of STOR: the bytes before are on the server already.
    if (offset > 0) curl_easy_setopt(easy_, CURLOPT_APPEND, 1L);
    Run run = perform(Mode::Upload, url(target, false));
    if (run.code == CURLE_OK && !shrank_) {
        progressActive_ = true;
        deliverProgress(true);
        progressActive_ = false;
        return;
    }

    const std::exception_ptr localFailure = std::exchange(localFailure_, nullptr);
    const bool shrank = shrank_;
    bool started = false;  // the server opened the remote file: a part of it may be there now
    for (const auto& reply : replies_.replies())
        if (reply.code == 125 || reply.code == 150) started = true;
    if (keepPartial && started) {
        log(" Il file incompleto " + visible(target) + " resta sul server per riprendere l'invio");
    } else if ((started || shrank) && !closeRequested_) {
        const Run failed = run;
        abortRequested_ = false;
        Run removal = runCommands({"DELE " + target});
        log(removal.code == CURLE_OK
                ? " Rimosso dal server il file incompleto " + visible(target)
                : " Il file incompleto " + visible(target) + " potrebbe essere rimasto sul server");
        run = failed;
    }
    if (localFailure) std::rethrow_exception(localFailure);
    if (shrank)
        fail(kErrGeneric, "Invio FTP di " + visible(target) +
                              ": il file locale si è accorciato durante l'invio");
    failWith(run);
}

bool CurlFtpControl::setModified(const std::string& remotePath, TimePoint modified) {
    Operation operation(*this);
    const std::string target = checkedPath(remotePath);
    if (!mfmt_) return false;
    const std::time_t seconds = std::chrono::system_clock::to_time_t(modified);
    std::tm utc{};
    ::gmtime_r(&seconds, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d%H%M%S", &utc);
    Run run = runCommands({std::string("MFMT ") + stamp + " " + target});
    if (run.code != CURLE_OK) failWith(run);
    return true;
}

void CurlFtpControl::rename(const std::string& from, const std::string& to) {
    Operation operation(*this);
    const std::string source = checkedPath(from);
    const std::string target = checkedPath(to);
    Run run = runCommands({"RNFR " + source, "RNTO " + target});
    if (run.code != CURLE_OK) failWith(run);
}

void CurlFtpControl::remove(const std::string& remotePath) {
    Operation operation(*this);
    const std::string target = checkedPath(remotePath);
    Run run = runCommands({"DELE " + target});
    if (run.code != CURLE_OK) failWith(run);
}

void CurlFtpControl::abort() {
    // Outside a running operation there is nothing to end; a stale request must not hit the
    // next transfer.
    if (busy_) abortRequested_ = true;
}

void CurlFtpControl::close() {
    if (busy_) {
        // Called from the caller's events during a transfer: end the transfer, then close
        // once the operation has unwound.
        abortRequested_ = true;
        closeRequested_ = true;
        return;
    }
    closeRequested_ = false;
    try {
        closeConnection();
    } catch (...) {
    }
}

void CurlFtpControl::closeConnection() {
    // Say goodbye only on a link that is still open: never reconnect just to leave. Sent
    // through the polled loop so that a server that does not answer cannot hold us.
    if (connected_ && linkAlive_ && easy_ && multi_) {
        abortRequested_ = false;
        Slist quit(curl_slist_append(nullptr, "QUIT"));
        try {
            perform(Mode::Command, url("/", true), quit.get());
        } catch (...) {
            // The caller's events failed meanwhile; the session goes all the same.
        }
    }
    if (multi_) {
        curl_multi_cleanup(multi_);  // closes what is left of the connection
        multi_ = nullptr;
    }
    if (easy_) {
        curl_easy_cleanup(easy_);  // also forgets the password
        easy_ = nullptr;
    }
    tls_.reset();
    connected_ = false;
    linkAlive_ = false;
    closeRequested_ = false;  // whoever asked for it is served
    host_.clear();
    currentFolder_ = "/";
    mlsd_ = false;
    abortRequested_ = false;
}

size_t CurlFtpControl::onWrite(char* data, size_t size, size_t count, void* p) {
    auto* self = static_cast<CurlFtpControl*>(p);
    size_t bytes = size * count;
    switch (self->mode_) {
        case Mode::Listing:
            if (!self->listing_ || self->listing_->size() + bytes > kMaxListingBytes) {
                self->overflow_ = true;
                return 0;
            }
            self->listing_->append(data, bytes);
            return bytes;
        case Mode::Download:
            if (self->limit_ >= 0 &&
                self->offset_ + static_cast<std::int64_t>(bytes) > self->limit_) {
                self->overLimit_ = true;
                return 0;
            }
            if (self->bandwidth_ && self->bandwidth_->holds()) {
                self->paused_ = true;
                return CURL_WRITEFUNC_PAUSE;  // libcurl hands the same bytes over again
            }
            if (self->bandwidth_) self->bandwidth_->spend(static_cast<std::int64_t>(bytes));
            // Nothing may unwind through libcurl: the failure waits for the caller.
            try {
                self->sink_->write(data, bytes);
            } catch (...) {
                self->localFailure_ = std::current_exception();
                return 0;
            }
            self->offset_ += static_cast<std::int64_t>(bytes);
            return bytes;
        default:
            return bytes;  // libcurl's own "Content-Length:" text of a body-less request
    }
}

size_t CurlFtpControl::onRead(char* data, size_t size, size_t count, void* p) {
    auto* self = static_cast<CurlFtpControl*>(p);
    // Never beyond the size the file had when it was opened: what a producer appends
    // meanwhile belongs to the next version.
    auto room = static_cast<size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(size * count),
                                                           self->total_ - self->offset_));
    if (room == 0) return 0;
    if (self->bandwidth_) {
        if (self->bandwidth_->holds()) {
            self->paused_ = true;
            return CURL_READFUNC_PAUSE;
        }
        room = std::min(room, self->bandwidth_->step());
    }
    std::size_t n = 0;
    try {
        n = self->source_->readAt(self->offset_, data, room);
    } catch (...) {
        self->localFailure_ = std::current_exception();
        return CURL_READFUNC_ABORT;
    }
    if (n == 0) {
        self->shrank_ = true;
        return CURL_READFUNC_ABORT;
    }
    if (self->bandwidth_) self->bandwidth_->spend(static_cast<std::int64_t>(n));
    self->offset_ += static_cast<std::int64_t>(n);
    return n;
}

size_t CurlFtpControl::onHeader(char* data, size_t size, size_t count, void* p) {
    static_cast<CurlFtpControl*>(p)->replies_.addLine(std::string_view(data, size * count));
    return size * count;
}

int CurlFtpControl::onProgress(void* p, curl_off_t dltotal, curl_off_t dlnow, curl_off_t,
                               curl_off_t ulnow) {
    auto* self = static_cast<CurlFtpControl*>(p);
    const std::int64_t before = self->done_;
    if (self->mode_ == Mode::Upload) {
        self->done_ = self->startOffset_ + ulnow;
    } else if (self->mode_ == Mode::Download) {
        self->done_ = dlnow;
        if (dltotal > 0) self->total_ = dltotal;
    }
    // libcurl sometimes holds on inside one call for long: a fast link read in one go, or
    // the wait for the server's last reply after an upload (it calls us about every second
    // then). The caller's events run from here too; while busy, whatever they call on this
    // control only raises flags, so re-entering is safe. Nothing may unwind through libcurl.
    if (!self->pendingException_ && !self->abortRequested_) {
        try {
            if (self->done_ != before && self->activity_) self->activity_();
            self->pump();
        } catch (...) {
            self->pendingException_ = std::current_exception();
        }
    }
    return self->abortRequested_ || self->pendingException_ ? 1 : 0;
}

std::unique_ptr<FtpControl> makeCurlFtpControl(YieldFn yield, FtpLimits limits,
                                               BandwidthLimit* bandwidth) {
    return std::make_unique<CurlFtpControl>(std::move(yield), limits, bandwidth);
}

}  // namespace vs
