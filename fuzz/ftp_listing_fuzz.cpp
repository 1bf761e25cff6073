// The FTP listing of a download job on arbitrary listing text: no crash, keys of 15
// characters, and no listed name that could leave the staging or the local folder.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "activitylog/activity_log.h"
#include "cycle/selection_rules.h"
#include "remote/ftp/ftp_listing.h"
#include "remote/ftp_session.h"
#include "settings/settings.h"

namespace {

// A control that answers every listing with the fuzzer's text.
class TextControl final : public vs::FtpControl {
  public:
    std::string listing;
    void setProgressHandler(ProgressHandler) override {}
    void setLogger(std::function<void(const std::string&)>) override {}
    void prepare(int) override {}
    void reset() override {}
    bool connectAndLogin(const std::string&, const std::string&, const std::string&, int) override {
        return true;
    }
    std::string errorText() const override { return {}; }
    bool changeDirectory(const std::string&) override { return true; }
    bool listDirectory(std::string& out, int, long) override {
        out = listing;
        return true;
    }
    bool querySize(std::int64_t&, const std::string&, bool) override { return true; }
    void setTransferMode(bool) override {}
    bool fetch(const std::string&, const std::string&) override { return true; }
    void send(const std::string&, const std::string&) override {}
    bool remove(const std::string&) override { return true; }
    void abort() override {}
    void close() override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static vs::SystemClock clock;
    vs::ActivityLog log(clock, "/nonexistent-fuzz-folder", vs::englishWeekdayNames());
    static const char* kTypes[] = {"TUTTI", "PDFREPORT", "AUTOMAIL", "other"};
    vs::SessionState state;
    vs::ServerFields server;
    TextControl control;
    // The server's raw reply goes through the control's own listing builder first, as MLSD
    // facts or as LIST lines, and must come out in the layout the listing parse expects.
    const std::string raw(reinterpret_cast<const char*>(data) + 1, size - 1);
    int skipped = 0;
    control.listing = vs::buildListing(
        raw, (data[0] & 64) ? vs::ListingFormat::Mlsd : vs::ListingFormat::List, &skipped);
    if (skipped < 0) std::abort();
    vs::FtpSession session(state, server, log, clock, &control);
    vs::ListingTable table;
    vs::WorkList list2;
    std::string type = kTypes[data[0] % 4];
    std::string op = (data[0] & 4) ? "TUTTI" : "OP1";
    std::string list = (data[0] & 8) ? "||A1||OP1||" : "";
    vs::FtpListingContext ctx{table, list2, type, op, list};
    session.listftpprova("/in/", ctx);
    if (table.count() > vs::ListingTable::kRows) std::abort();
    for (std::size_t i = 0; i < table.count(); ++i) {
        if (vs::unsafeRemoteName(table[i].name)) std::abort();
        if (table[i].key.size() != 15) std::abort();
    }
    return 0;
}
