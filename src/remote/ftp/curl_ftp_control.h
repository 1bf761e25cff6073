#pragma once

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "common/yield.h"
#include "remote/ftp/ftp_control_factory.h"
#include "remote/ftp/ftp_listing.h"
#include "remote/ftp/ftp_reply.h"
#include "remote/ftp/tls_policy.h"
#include "remote/ftp_control.h"

namespace vs {

// The FTP control on libcurl. One easy handle and one control connection per session, kept
// open from connectAndLogin to close. Every operation runs through the multi interface in
// short slices on the caller's thread: between slices it delivers progress and calls the
// yield callable, so the window stays responsive and abort() (from the progress handler or
// from an event run by the yield) ends the running transfer at once.
class CurlFtpControl final : public FtpControl {
  public:
    CurlFtpControl(YieldFn yield, FtpLimits limits, BandwidthLimit* bandwidth = nullptr);
    ~CurlFtpControl() override;
    CurlFtpControl(const CurlFtpControl&) = delete;
    CurlFtpControl& operator=(const CurlFtpControl&) = delete;

    void setProgressHandler(ProgressHandler handler) override;
    void setActivityHandler(std::function<void()> handler) override {
        activity_ = std::move(handler);
    }
    void setLogger(std::function<void(const std::string&)> logger) override;
    void setSecurity(Security security) override { security_ = std::move(security); }
    // A PEM file of certificate authorities to trust in place of the system's store.
    void setCaFile(std::string path) { caFile_ = std::move(path); }
    // Takes the waiting limit for connecting and for server replies, in milliseconds (the
    // caller gives 32000); values below one second keep the defaults.
    void prepare(int value) override;
    // Ends any session still open and forgets everything about it.
    void reset() override;
    void connectAndLogin(const std::string& host, const std::string& login,
                         const std::string& password, int port) override;
    void changeDirectory(const std::string& folder) override;
    RemoteListing listDirectory() override;
    FileInfo stat(const std::string& remotePath) override;
    void setTransferMode(bool binary) override { binary_ = binary; }
    std::int64_t fetch(const std::string& remotePath, ByteSink& into,
                       std::optional<std::int64_t> limit, std::int64_t from = 0) override;
    void send(ByteSource& from, const std::string& remotePath, std::int64_t offset = 0,
              bool keepPartial = false) override;
    bool setModified(const std::string& remotePath, TimePoint modified) override;
    void rename(const std::string& from, const std::string& to) override;
    void remove(const std::string& remotePath) override;
    void abort() override;
    void close() override;

  private:
    class Operation;
    enum class Mode { Command, Info, Listing, Download, Upload };
    struct Run {
        CURLcode code = CURLE_OK;
        bool aborted = false;
    };

    bool ensureHandles();
    void applyLimits();
    Run perform(Mode mode, const std::string& url, curl_slist* quote = nullptr);
    Run runCommands(std::initializer_list<std::string> commands);
    void pump();
    void deliverProgress(bool finished);
    [[noreturn]] void fail(int number, const std::string& text) const;
    [[noreturn]] void failWith(const Run& run) const;
    // The absolute form of a remote path; refuses one that could break a command line.
    std::string checkedPath(const std::string& path) const;
    std::string url(std::string_view absolutePath, bool folder) const;
    std::string describe(const Run& run) const;
    void closeConnection();
    void log(const std::string& message) const;

    static size_t onWrite(char* data, size_t size, size_t count, void* self);
    static size_t onRead(char* data, size_t size, size_t count, void* self);
    static size_t onHeader(char* data, size_t size, size_t count, void* self);
    static int onProgress(void* self, curl_off_t dltotal, curl_off_t dlnow, curl_off_t ultotal,
                          curl_off_t ulnow);

    YieldFn yield_;
    ProgressHandler progress_;
    std::function<void()> activity_;
    std::function<void(const std::string&)> logger_;
    FtpLimits limits_;
    // The instance's bandwidth limit, or null. A transfer it holds back is paused in the
    // callbacks and continued by the polling loop once the limit lets it.
    BandwidthLimit* bandwidth_;
    bool paused_ = false;

    CURLM* multi_ = nullptr;
    CURL* easy_ = nullptr;
    char curlMessage_[CURL_ERROR_SIZE] = {};
    ftp::ReplyLog replies_;
    Security security_;
    std::string caFile_;
    std::unique_ptr<ftp::TlsPolicy> tls_;  // of the session open now; libcurl points at it

    // Session state, forgotten by reset() and close().
    bool connected_ = false;
    bool linkAlive_ = false;  // libcurl still holds the control connection open
    std::string host_;        // as it stands in URLs
    int port_ = 21;
    std::string currentFolder_ = "/";
    bool mlsd_ = false;
    bool mfmt_ = false;  // the server sets modification times (MFMT)
    bool binary_ = true;
    bool implicitTls_ = false;

    // The running operation.
    bool busy_ = false;
    bool abortRequested_ = false;
    bool closeRequested_ = false;
    Mode mode_ = Mode::Command;
    ByteSink* sink_ = nullptr;         // where a download goes
    ByteSource* source_ = nullptr;     // what an upload sends
    std::int64_t offset_ = 0;          // bytes of the file read or written so far
    std::int64_t startOffset_ = 0;     // where a resumed transfer started
    std::int64_t limit_ = -1;          // most bytes of the file a download may bring; -1: none
    bool overLimit_ = false;           // the server sent more than that
    std::exception_ptr localFailure_;  // why the local file failed us, when it did
    bool shrank_ = false;              // the file to send ended before its size
    std::string* listing_ = nullptr;   // listing text
    bool progressActive_ = false;
    std::int64_t total_ = -1;
    std::int64_t done_ = 0;
    int lastPercent_ = 0;
    bool overflow_ = false;
    std::chrono::steady_clock::time_point lastYield_{};
    std::exception_ptr pendingException_;  // thrown by the caller's code inside a callback
};

}  // namespace vs
