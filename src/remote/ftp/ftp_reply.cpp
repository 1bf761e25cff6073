#include "remote/ftp/ftp_reply.h"

#include "common/text.h"

namespace vs::ftp {
namespace {

int replyCode(std::string_view line) {
    if (line.size() < 3) return 0;
    for (size_t i = 0; i < 3; ++i)
        if (line[i] < '0' || line[i] > '9') return 0;
    if (line[0] < '1' || line[0] > '5') return 0;
    if (line.size() > 3 && line[3] != ' ' && line[3] != '-') return 0;
    return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

}  // namespace

void ReplyLog::startOperation() {
    replies_.clear();
    inReply_ = false;
    open_ = {};
}

void ReplyLog::addLine(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    int code = replyCode(line);
    if (!inReply_) {
        if (code == 0) return;
        open_ = {code, std::string(line)};
        if (line.size() > 3 && line[3] == '-') {
            inReply_ = true;
            return;
        }
    } else {
        open_.text += ' ';
        open_.text += line;
        // A multi-line reply ends with its code followed by a blank.
        if (!(code == open_.code && (line.size() == 3 || line[3] == ' '))) return;
        inReply_ = false;
    }
    if (replies_.size() >= 64) replies_.erase(replies_.begin());  // FEAT and friends only
    replies_.push_back(std::move(open_));
    open_ = {};
}

const ReplyLog::Reply* ReplyLog::lastRefusal() const {
    const Reply* found = nullptr;
    for (const Reply& r : replies_)
        // "503 Bad sequence of commands" only says that an earlier refusal broke a pair of
        // commands (RNFR, RNTO): that earlier one is the reason.
        if (r.code >= 400 && !(r.code == 503 && found)) found = &r;
    return found;
}

bool ReplyLog::offersFeature(std::string_view feature) const {
    std::string wanted = " " + toUpper(feature);
    for (const Reply& r : replies_) {
        if (r.code != 211) continue;
        std::string text = toUpper(r.text) + " ";
        // Features stand one per line, each after a blank: " MLST type*;size*;".
        for (size_t at = text.find(wanted); at != std::string::npos;
             at = text.find(wanted, at + 1)) {
            char after = text[at + wanted.size()];
            if (after == ' ' || after == ';') return true;
        }
    }
    return false;
}

bool isConnectionFailure(CURLcode code) {
    switch (code) {
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_CONNECT:
        case CURLE_OPERATION_TIMEDOUT:
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_GOT_NOTHING:
        case CURLE_PARTIAL_FILE:
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_FTP_ACCEPT_FAILED:
        case CURLE_FTP_ACCEPT_TIMEOUT:
        case CURLE_FTP_WEIRD_PASV_REPLY:
        case CURLE_FTP_WEIRD_227_FORMAT:
        case CURLE_FTP_CANT_GET_HOST:
        case CURLE_FTP_PORT_FAILED:
        case CURLE_LOGIN_DENIED:  // a lost link re-established under a login now refused
            return true;
        default:
            return false;
    }
}

std::string describeFailure(CURLcode code, const char* curlMessage, const ReplyLog& replies) {
    if (const ReplyLog::Reply* refusal = replies.lastRefusal()) return visible(refusal->text);
    if (curlMessage && *curlMessage) return visible(curlMessage);
    return curl_easy_strerror(code);
}

}  // namespace vs::ftp
