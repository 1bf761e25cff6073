#include "remote/ftp_session.h"

#include <vector>

#include "activitylog/activity_log.h"
#include "common/port_text.h"
#include "common/remote_name.h"
#include "common/runtime_error.h"
#include "common/text.h"
#include "settings/settings.h"

namespace vs {

namespace {

constexpr std::size_t kFtpRowLimit = 200;

std::vector<std::string> splitAtBlanks(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    while (true) {
        const size_t b = line.find(' ', start);
        fields.push_back(
            line.substr(start, b == std::string::npos ? std::string::npos : b - start));
        if (b == std::string::npos) break;
        start = b + 1;
    }
    return fields;
}

// Mid$ with a 1-based start and an optional length.
std::string mid(const std::string& s, size_t start1, size_t length = std::string::npos) {
    if (start1 < 1 || start1 > s.size()) return {};
    return s.substr(start1 - 1, length);
}

bool isDots(const std::string& name) {
    return name == "." || name == "..";
}

// Keys are cut or padded to 15 characters so that the row number of a queue item keeps its
// place whatever the name looks like.
std::string width15(std::string key) {
    key.resize(15, ' ');
    return key;
}

}  // namespace

FtpSession::FtpSession(SessionState& state, const ServerFields& server, ActivityLog& log,
                       const Clock& clock, FtpControl* control)
    : state_(state), server_(server), log_(log), clock_(clock), control_(control) {
    if (control_) {
        control_->setProgressHandler([this](std::uint8_t& p) { kftp_Progress(p); });
        control_->setLogger([this](const std::string& message) { line(message); });
    }
}

void FtpSession::line(const std::string& text) {
    log_.scrivi_log(timeOfDay(clock_) + text);
}

FtpControl& FtpSession::kftp() const {
    if (!control_) throw RuntimeError(kErrGeneric, "Controllo FTP non disponibile");
    return *control_;
}

void FtpSession::connetti_ftp() {
    state_.connectFailed = false;
    state_.connected = true;
    try {
        FtpControl& ftp = kftp();
        ftp.prepare(32000);
        ftp.reset();
        line(" Connecting Ftp..");
        std::string host = server_.txtHost;
        int port = 21;
        if (const size_t colon = server_.txtHost.find(':'); colon != std::string::npos) {
            host = server_.txtHost.substr(0, colon);
            port = portFromText(server_.txtHost.substr(colon + 1));
        }
        if (!ftp.connectAndLogin(host, server_.txtLogin, server_.txtPwd, port)) {
            line(" Not Connected ! " + ftp.errorText());
            state_.connectFailed = true;
            state_.connected = false;
        } else {
            line(" Connected ! ");
            state_.connected = true;
        }
    } catch (const RuntimeError& e) {
        state_.connected = false;
        line(" connetti_ftp " + e.description());
    }
}

void FtpSession::kftp_Progress(std::uint8_t& percentage) {
    try {
        if (percentage != 0 && percentage % 20 == 0) line(" " + std::to_string(percentage) + " %");
        state_.transferPercentage = percentage;
        if (state_.abortRequest) {
            kftp().abort();
            state_.abortRequest = false;
        }
    } catch (const RuntimeError& e) {
        line(" kftp_Progress " + e.description());
    }
}

void FtpSession::listftpprova(const std::string& dirremota, FtpListingContext& ctx) {
    FtpControl* ftp = control_;
    auto errorText = [&](const RuntimeError* e) {
        return e ? e->description() : (ftp ? ftp->errorText() : std::string());
    };

    bool ok = false;
    try {
        ok = kftp().changeDirectory(dirremota);
        if (!ok) line(" " + errorText(nullptr));
    } catch (const RuntimeError& e) {
        line(" " + errorText(&e));
    }
    if (!ok) {
        state_.connectFailed = true;
        return;
    }

    std::string listing;
    try {
        ok = ftp->listDirectory(listing, 0, 0);
        if (!ok) line(" " + errorText(nullptr));
    } catch (const RuntimeError& e) {
        ok = false;
        line(" " + errorText(&e));
    }
    if (!ok) return;

    ctx.table.reset();
    ctx.List2.clear();

    std::vector<std::string> lines;
    if (!listing.empty()) {
        size_t start = 0;
        while (true) {
            const size_t crlf = listing.find("\r\n", start);
            lines.push_back(listing.substr(
                start, crlf == std::string::npos ? std::string::npos : crlf - start));
            if (crlf == std::string::npos) break;
            start = crlf + 2;
        }
    }

    const std::string& type = ctx.currentFileType;
    std::string typeText, sizeText, timeText;  // keep their values over short lines
    bool overflowReported = false;
    const auto addRow = [&](const std::string& name, const std::string& key,
                            const std::string& size) {
        if (!ctx.table.add({name, width15(key), size}) && !overflowReported) {
            line(" Elenco troppo lungo: in tabella i primi " + std::to_string(ListingTable::kRows) +
                 " file, gli altri al prossimo ciclo");
            overflowReported = true;
        }
    };

    for (const std::string& text : lines) {
        const std::vector<std::string> fields = splitAtBlanks(text);
        typeText = fields[0];
        if (fields.size() > 4) sizeText = fields[4];
        if (fields.size() > 7) timeText = fields[7];
        const std::string name = fields.size() > 8 ? trimBlanks(fields[8]) : std::string();
        line(" " + visible(name));

        const std::string lower = toLower(name);
        const std::string stamp = "_" + mid(timeText, 1, 2) + mid(timeText, 4, 2) + "01";
        size_t d1 = 0, q = 0;  // 1-based positions, 0 when not computed or absent
        bool selected = false;
        if (type == "PDFREPORT") {
            const size_t at = lower.find(".pdf");
            q = at == std::string::npos ? 0 : at + 1;
            if (q > 7) {
                const std::string part = mid(name, 7, q - 7);
                selected = part == ctx.operatorCode || ctx.operatorCode == "TUTTI" ||
                           ctx.operatorCode == "SELETTIVO";
            }
        } else if (type == "AUTOMAIL") {
            const size_t at = name.find('.');
            d1 = at == std::string::npos ? 0 : at + 1;
            if (d1 > 1) {
                const size_t next = lower.find('.', d1);
                const size_t d2 = next == std::string::npos ? 0 : next + 1;
                const std::string base = name.substr(0, d1 - 1);
                bool missing = false;
                if (!ctx.operatorList.empty()) {
                    ctx.operatorCode = "SELETTIVO";
                    missing = !contains(ctx.operatorList, "||" + base + "||");
                }
                selected = endsWith(lower, ".t") && d2 >= d1 && d2 - d1 == 7 &&
                           (base == ctx.operatorCode || ctx.operatorCode == "TUTTI" || !missing);
            }
        } else if (type == "TUTTI") {
            selected = !name.empty() && !isDots(name) &&
                       !(typeText.size() > 0 && (typeText[0] == 'd' || typeText[0] == 'D'));
        }

        bool wroteMain = false;
        if (selected && !isDots(name) && !unsafeRemoteName(name)) {
            const std::string afterDot = mid(name, d1 + 1);
            if (endsWith(lower, ".t")) {
                for (const char* letter : {"H", "0", "B"})
                    addRow(name.substr(0, name.size() - 1) + letter, afterDot + stamp, "9999");
            }
            std::string key;
            if (type == "TUTTI")
                key = "00000001" + stamp;
            else if (d1 != 0)
                key = afterDot + stamp;
            else
                key = mid(name, q + 5, 3) + "00000" + stamp;
            addRow(name, key, sizeText);
            wroteMain = true;
        }
        if (type == "TUTTI" && wroteMain) continue;
        if (ctx.table.count() == kFtpRowLimit) {
            line(" Listftpprova  Scarico i primi 50");
            break;
        }
    }
    line(" Listftpprova  Elenco Ottenuto ");
}

}  // namespace vs
