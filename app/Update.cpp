#include "app/Update.h"

#include "core/Log.h"
#include "core/System.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <glib.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t HEADER_LIMIT = 65536;
constexpr std::size_t BLOCK = 65536;
constexpr i64 NO_DEADLINE = INT64_MAX;

bool allDigits(const std::string& text) {
    return !text.empty() && text.size() <= 19 &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "HTTP/1.x 200 ..." and nothing else counts as success.
bool statusIsOk(const std::string& header) {
    std::string line = header.substr(0, header.find("\r\n"));
    if (line.compare(0, 5, "HTTP/") != 0)
        return false;
    std::string::size_type blank = line.find(' ');
    return blank != std::string::npos && line.compare(blank + 1, 3, "200") == 0 &&
           (line.size() == blank + 4 || line[blank + 4] == ' ');
}

} // namespace

Update::Update(platform::TcpNetwork& network) : network_(network) {}

template <typename Step> long Update::await(Step step, i64 deadlineUs) {
    const i64 stepEnd = g_get_monotonic_time() + i64(ioTimeoutMs_) * 1000;
    for (;;) {
        const i64 end = std::min(stepEnd, deadlineUs);
        const i64 left = end - g_get_monotonic_time();
        if (left <= 0)
            return platform::TcpSocket::TIMED_OUT;
        long result = step(static_cast<int>(std::min<i64>(left / 1000 + 1, WAIT_SLICE_MS)));
        if (result != platform::TcpSocket::TIMED_OUT)
            return result;
        poll();
    }
}

bool Update::parseUrl(const char* url, Address& out) {
    std::string text = url ? url : "";
    if (text.compare(0, 7, "http://") == 0)
        text.erase(0, 7);
    else if (text.find("://") != std::string::npos)
        return false; // only plain HTTP is spoken here
    std::string::size_type slash = text.find('/');
    std::string authority = text.substr(0, slash);
    out.path = slash == std::string::npos ? "/" : text.substr(slash);
    out.port = 80;
    std::string::size_type colon = authority.rfind(':');
    std::string::size_type bracket = authority.rfind(']');
    if (colon != std::string::npos && (bracket == std::string::npos || colon > bracket)) {
        std::string port = authority.substr(colon + 1);
        if (!allDigits(port) || port.size() > 5 || std::stoul(port) == 0 ||
            std::stoul(port) > 65535)
            return false;
        out.port = static_cast<u16>(std::stoul(port));
        authority.erase(colon);
    }
    if (authority.size() > 2 && authority.front() == '[' && authority.back() == ']')
        authority = authority.substr(1, authority.size() - 2);
    out.host = authority;
    return !out.host.empty();
}

bool Update::httpGet(const char* url, Stream& sink, u64 limit, int totalMs) {
    Address address;
    if (!parseUrl(url, address)) {
        logAt("Update", 100) << ": " << (url ? url : "") << '\n';
        return false;
    }
    const i64 deadline = totalMs > 0 ? g_get_monotonic_time() + i64(totalMs) * 1000 : NO_DEADLINE;
    poll();
    std::string error;
    std::unique_ptr<platform::TcpSocket> socket = network_.open(address.host, address.port, error);
    if (!socket) {
        logAt("Update", 118) << ": " << address.host << ' ' << error << '\n';
        return false;
    }
    if (await([&](int ms) { return socket->awaitConnected(ms); }, deadline) != 1) {
        logAt("Update", 125) << ": " << address.host << ':' << address.port << '\n';
        return false;
    }

    std::string host =
        address.host.find(':') == std::string::npos ? address.host : "[" + address.host + "]";
    if (address.port != 80)
        host += ":" + std::to_string(address.port);
    const std::string request = "GET " + address.path + " HTTP/1.0\r\nHost: " + host + "\r\n\r\n";
    for (std::size_t sent = 0; sent < request.size();) {
        long n = await(
            [&](int ms) { return socket->send(request.data() + sent, request.size() - sent, ms); },
            deadline);
        if (n <= 0) {
            logAt("Update", 138) << '\n';
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }

    std::vector<u8> block(BLOCK);
    std::string header;
    bool inBody = false;
    u64 body = 0;
    for (;;) {
        long n = await([&](int ms) { return socket->receive(block.data(), block.size(), ms); },
                       deadline);
        if (n == 0)
            break;
        if (n < 0) {
            logAt("Update", 140) << ": "
                                 << (n == platform::TcpSocket::TIMED_OUT ? "timeout" : "error")
                                 << '\n';
            return false;
        }
        const u8* data = block.data();
        std::size_t size = static_cast<std::size_t>(n);
        if (!inBody) {
            const std::size_t before = header.size();
            header.append(reinterpret_cast<const char*>(data), size);
            std::string::size_type mark = header.find("\r\n\r\n");
            if (mark == std::string::npos) {
                if (header.size() > HEADER_LIMIT) {
                    logAt("Update", 142) << '\n';
                    return false;
                }
                continue;
            }
            if (!statusIsOk(header)) {
                logAt("Update", 144) << ": " << header.substr(0, header.find("\r\n")) << '\n';
                return false;
            }
            inBody = true;
            const std::size_t used = mark + 4 - before;
            data += used;
            size -= used;
            header.clear();
        }
        if (size == 0)
            continue;
        if (size > limit - body) {
            logAt("Update", 146) << ": " << limit << '\n';
            return false;
        }
        body += size;
        if (!sink.write(data, static_cast<u32>(size))) {
            logAt("Update", 161) << '\n';
            return false;
        }
    }
    if (!inBody) {
        // The connection ended before the server said anything we could read.
        logAt("Update", 148) << '\n';
        return false;
    }
    return true;
}

const char* findAttribute(const char* from, const char* name, std::string& value) {
    const std::string key = std::string(name) + "=\"";
    const char* start = std::strstr(from, key.c_str());
    if (!start) {
        logAt("Update", 24) << '\n';
        return nullptr;
    }
    start += key.size();
    const char* end = std::strchr(start, '"');
    if (!end) {
        logAt("Update", 30) << '\n';
        return nullptr;
    }
    value.assign(start, end);
    return end;
}

bool Update::parseFeed(const char* text, UpdateInfo& info) {
    const char* at = std::strstr(text, "<enclosure");
    if (!at) {
        logAt("Update", 232) << '\n';
        return false;
    }
    at += std::strlen("<enclosure");
    struct Field {
        const char* name;
        std::string* value;
        int logLine;
    };
    std::string length;
    const Field fields[] = {{"version", &info.version, 239},
                            {"url", &info.url, 245},
                            {"length", &length, 251},
                            {"releaseNotesUrl", &info.releaseNotesUrl, 257}};
    for (const Field& field : fields) {
        at = findAttribute(at, field.name, *field.value);
        if (!at) {
            logAt("Update", field.logLine) << '\n';
            return false;
        }
    }
    // The length decides whether a download is complete: it must be a number,
    // and not 0, which an empty answer would match.
    if (!allDigits(length) || std::strtoull(length.c_str(), nullptr, 10) == 0) {
        logAt("Update", 253) << ": " << length << '\n';
        return false;
    }
    info.length = std::strtoull(length.c_str(), nullptr, 10);
    return true;
}

bool Update::check(const char* url, UpdateInfo& info) {
    StreamString feed;
    if (!httpGet(url, feed, FEED_LIMIT, checkTimeoutMs_)) {
        logAt("Update", 218) << '\n';
        return false;
    }
    if (!parseFeed(feed.text().c_str(), info)) {
        logAt("Update", 222) << '\n';
        return false;
    }
    return true;
}

std::string Update::installerName(const std::string& url) {
    std::string path = url.substr(0, url.find_first_of("?#"));
    std::string name = path.substr(path.rfind('/') + 1);
    if (name.empty() || name == "." || name == "..")
        return "installer";
    return name;
}

bool StreamString::write(const u8* data, u32 length) {
    text_.append(reinterpret_cast<const char*>(data), length);
    return true;
}
