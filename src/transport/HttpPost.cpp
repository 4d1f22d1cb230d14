#include "transport/HttpPost.h"

#include "common/StringBuffer.h"
#include "transport/NorvaneSocket.h"
#include "transport/SChannel.h"
#include "transport/SaslBase64.h"
#include "transport/SmtpWire.h"

#include <cctype>
#include <charconv>
#include <memory>

namespace norvane::http {

namespace {

// Plain socket or TLS channel, read the same way: whatever arrives next is appended.
class Connection {
public:
    bool open(const HttpUrl& url, uint32_t connectTimeoutSec, LogBase& log) {
        if (url.tls) {
            tls_ = std::make_unique<SChannel>();
            tls_->setServer(url.host);
            tls_->setPort(url.port);
            tls_->setConnectTimeout(connectTimeoutSec);
            return tls_->establish(log);
        }
        plain_ = std::make_unique<NorvaneSocket>();
        plain_->setConnectTimeoutSec(connectTimeoutSec);
        bool dnsFailed = false;
        return plain_->connect(url.host, url.port, log, dnsFailed);
    }
    bool send(std::string_view data, LogBase& log) {
        return tls_ ? tls_->sendText(data, log) : plain_->sendText(data, log);
    }
    // False when the peer closed (or went quiet) and nothing more came.
    bool readMore(std::string& buffer, LogBase& log) {
        if (tls_)
            return tls_->receiveDecrypted(buffer, log);
        char chunk[16384];
        size_t n = sizeof chunk;
        bool timedOut = false;
        if (!plain_->receiveSome(chunk, n, timedOut, log) || n == 0)
            return false;
        buffer.append(chunk, n);
        return true;
    }

private:
    std::unique_ptr<NorvaneSocket> plain_;
    std::unique_ptr<SChannel> tls_;
};

bool readHeader(Connection& c, std::string& buffer, size_t& headerEnd, LogBase& log) {
    while ((headerEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
        if (buffer.size() > 65536 || !c.readMore(buffer, log)) {
            log.logError("Failed to get response header");
            return false;
        }
    }
    headerEnd += 4;
    return true;
}

std::string fieldOf(std::string_view header, std::string_view name) {
    size_t pos = header.find("\r\n");
    while (pos != std::string_view::npos && pos + 2 < header.size()) {
        const size_t start = pos + 2, end = header.find("\r\n", start);
        const std::string_view line = header.substr(start, end - start);
        const size_t colon = line.find(':');
        if (colon != std::string_view::npos && sb::equalsNoCase(line.substr(0, colon), name))
            return std::string(sb::trimView(line.substr(colon + 1)));
        pos = end;
    }
    return {};
}

// The body after a chunked transfer coding; false when it is cut short or malformed.
bool dechunk(Connection& c, std::string& data, std::string& body, LogBase& log) {
    size_t pos = 0;
    for (;;) {
        size_t eol;
        while ((eol = data.find("\r\n", pos)) == std::string::npos)
            if (data.size() > kMaxBody || !c.readMore(data, log))
                return false;
        size_t size = 0;
        const auto r = std::from_chars(data.data() + pos, data.data() + eol, size, 16);
        if (r.ec != std::errc() || size > kMaxBody - body.size())
            return false;
        pos = eol + 2;
        if (size == 0)
            return true;
        while (data.size() < pos + size + 2)
            if (!c.readMore(data, log))
                return false;
        body.append(data, pos, size);
        pos += size + 2;
    }
}

bool readBody(Connection& c, std::string_view header, std::string& data, std::string& body,
              LogBase& log) {
    if (sb::equalsNoCase(fieldOf(header, "Transfer-Encoding"), "chunked")) {
        if (!dechunk(c, data, body, log)) {
            log.logError("Failed to get response data (a)");
            return false;
        }
        return true;
    }
    const std::string length = fieldOf(header, "Content-Length");
    if (length.empty()) {
        while (data.size() <= kMaxBody && c.readMore(data, log)) {
        }
        body = data.substr(0, kMaxBody);
        return true;
    }
    size_t n = 0;
    const auto r = std::from_chars(length.data(), length.data() + length.size(), n);
    if (r.ec != std::errc() || n > kMaxBody) {
        log.logError("Failed to get response data (b)");
        return false;
    }
    while (data.size() < n)
        if (!c.readMore(data, log)) {
            log.logError("Failed to get response body");
            return false;
        }
    body = data.substr(0, n);
    return true;
}

} // namespace

bool parseUrl(std::string_view url, HttpUrl& out) {
    out = {};
    if (sb::startsWithNoCase(url, "https://")) {
        out.tls = true;
        out.port = 443;
        url.remove_prefix(8);
    } else if (sb::startsWithNoCase(url, "http://")) {
        url.remove_prefix(7);
    } else {
        return false;
    }
    const size_t pathAt = url.find_first_of("/?");
    std::string_view authority = url.substr(0, pathAt);
    std::string_view rest = pathAt == std::string_view::npos ? "" : url.substr(pathAt);
    if (const size_t at = authority.rfind('@'); at != std::string_view::npos) {
        const std::string_view cred = authority.substr(0, at);
        const size_t colon = cred.find(':');
        out.user = cred.substr(0, colon);
        out.password = colon == std::string_view::npos ? "" : cred.substr(colon + 1);
        authority.remove_prefix(at + 1);
    }
    if (const size_t colon = authority.rfind(':');
        colon != std::string_view::npos && authority.find(']', colon) == std::string_view::npos) {
        const std::string_view port = authority.substr(colon + 1);
        const auto r = std::from_chars(port.data(), port.data() + port.size(), out.port);
        if (r.ec != std::errc() || r.ptr != port.data() + port.size() || out.port < 1 ||
            out.port > 65535)
            return false;
        authority = authority.substr(0, colon);
    }
    out.host = authority;
    if (const size_t q = rest.find('?'); q != std::string_view::npos) {
        out.query = rest.substr(q + 1);
        rest = rest.substr(0, q);
    }
    if (!rest.empty())
        out.path = rest;
    // Nothing from the URL may end a request line early.
    return !out.host.empty() && !smtp::hasLineBreakOrNul(out.host) &&
           !smtp::hasLineBreakOrNul(out.path) && !smtp::hasLineBreakOrNul(out.query) &&
           out.path.find(' ') == std::string::npos && out.query.find(' ') == std::string::npos;
}

std::string formEncode(std::string_view value) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(value.size() + value.size() / 8);
    for (unsigned char c : value) {
        if (std::isalnum(c)) {
            out.push_back(static_cast<char>(c));
        } else if (c == ' ') {
            out.push_back('+');
        } else {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        }
    }
    return out;
}

std::string formRequest(const HttpUrl& url,
                        const std::vector<std::pair<std::string, std::string>>& form) {
    std::string body;
    for (const auto& [name, value] : form) {
        if (!body.empty())
            body += '&';
        body += name + "=" + formEncode(value);
    }
    body += "\r\n";
    std::string r = "POST " + url.path + (url.query.empty() ? "" : "?" + url.query) +
                    " HTTP/1.1\r\n"
                    "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)\r\n"
                    "Connection: Keep-Alive\r\n"
                    "Host: " +
                    url.host + "\r\n";
    if (!url.user.empty())
        r += "Authorization: Basic " + sasl::base64Encode(url.user + ":" + url.password) + "\r\n";
    r += "content-type: application/x-www-form-urlencoded\r\ncontent-length: " +
         std::to_string(body.size()) + "\r\n\r\n";
    return r + body;
}

bool postForm(std::string_view urlText,
              const std::vector<std::pair<std::string, std::string>>& form,
              uint32_t connectTimeoutSec, std::string& body, LogBase& log) {
    body.clear();
    HttpUrl url;
    if (!parseUrl(urlText, url)) {
        log.logError("Failed to parse URL");
        return false;
    }
    log.logData("hostname", url.host);
    log.logDataLong("port", url.port);
    log.logData("path", url.path);
    Connection c;
    if (!c.open(url, connectTimeoutSec, log) || !c.send(formRequest(url, form), log))
        return false;
    std::string data;
    size_t headerEnd = 0;
    if (!readHeader(c, data, headerEnd, log))
        return false;
    const std::string header = data.substr(0, headerEnd);
    data.erase(0, headerEnd);
    const size_t sp = header.find(' ');
    int status = 0;
    if (sp != std::string::npos)
        (void)std::from_chars(header.data() + sp + 1, header.data() + header.size(), status);
    log.logDataLong("status", status);
    if (status < 200 || status > 299) {
        log.logError("HTTP request refused: " + header.substr(0, header.find("\r\n")));
        return false;
    }
    if (!readBody(c, header, data, body, log)) {
        log.logError("Failed to download response");
        return false;
    }
    return true;
}

} // namespace norvane::http
