#include "remote/ftp/ftp_path.h"

#include <optional>
#include <vector>

namespace vs::ftp {

bool breaksCommandLine(std::string_view s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

std::string resolveRemotePath(std::string_view current, std::string_view path) {
    std::string joined;
    if (path.empty() || path.front() != '/') {
        joined.assign(current);
        joined += '/';
    }
    joined += path;

    std::vector<std::string_view> parts;
    std::string_view rest = joined;
    while (!rest.empty()) {
        size_t slash = rest.find('/');
        std::string_view part = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    std::string result;
    for (std::string_view p : parts) {
        result += '/';
        result += p;
    }
    return result.empty() ? "/" : result;
}

namespace {

bool isHostNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '-' || c == '_';
}

bool isUnreserved(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

}  // namespace

std::optional<std::string> urlHost(std::string_view host) {
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    if (host.empty() || host.size() > 253) return std::nullopt;
    bool colon = false;
    for (char c : host) {
        if (c == ':') {
            colon = true;
            continue;
        }
        if (!isHostNameChar(c)) return std::nullopt;
    }
    if (!colon) return std::string(host);
    for (char c : host)  // an IPv6 address: hex digits, ":" and dots of an embedded IPv4
        if (!(c == ':' || c == '.' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') ||
              (c >= 'A' && c <= 'F')))
            return std::nullopt;
    return "[" + std::string(host) + "]";
}

std::string remoteUrl(const std::string& urlHostText, int port, std::string_view absolutePath,
                      bool folder) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string url = "ftp://" + urlHostText + ":" + std::to_string(port) + "/";
    for (size_t i = 0; i < absolutePath.size(); ++i) {
        auto c = static_cast<unsigned char>(absolutePath[i]);
        if (isUnreserved(c) || (c == '/' && i > 0)) {
            url += static_cast<char>(c);
        } else {
            url += '%';
            url += kHex[c >> 4];
            url += kHex[c & 15];
        }
    }
    if (folder && url.back() != '/' && url.substr(url.size() - 3) != "%2F") url += '/';
    return url;
}

}  // namespace vs::ftp
