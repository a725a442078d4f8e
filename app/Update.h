#pragma once

// The update check without windows: the feed's address, one HTTP/1.0 GET over
// the platform's TCP layer, the first <enclosure> element of the feed, and the
// download of the installer it names into a folder of its own.
//
// Nothing here trusts the server: every wait has a time limit, the feed has a
// size limit, only a "200" answer counts, and a download counts only when it
// has exactly the length the feed announced.

#include "core/Progress.h"
#include "core/Types.h"
#include "platform/TcpNetwork.h"

#include <string>

struct UpdateInfo {
    std::string version;
    std::string url; // of the installer
    u64 length = 0;  // of the installer, in bytes
    std::string releaseNotesUrl;
};

class Update : public UsesInterfaceCallback {
public:
    // The longest wait for one network step (connect, send, one receive).
    static constexpr int IO_TIMEOUT_MS = 5000;
    // The longest the whole feed may take.
    static constexpr int CHECK_TIMEOUT_MS = 20000;
    static constexpr u64 FEED_LIMIT = u64(1) << 20;
    // How often the progress box is polled while the network is silent.
    static constexpr int WAIT_SLICE_MS = 100;

    // The sink of a response body; false stops the transfer.
    class Stream {
    public:
        virtual ~Stream() = default;
        virtual bool write(const u8* data, u32 length) = 0;
    };

    struct Address {
        std::string host;
        u16 port = 80;
        std::string path; // "/" at least
    };

    explicit Update(platform::TcpNetwork& network = platform::systemTcpNetwork());

    // Tests shorten the limits; the defaults are the constants above.
    void setTimeouts(int ioMs, int checkMs) {
        ioTimeoutMs_ = ioMs;
        checkTimeoutMs_ = checkMs;
    }

    // Fetches and reads the feed at `url`.
    bool check(const char* url, UpdateInfo& info);
    // Fetches `url` into `sink`. True only when the server answered 200 and the
    // body ended within `limit` bytes; `totalMs` above 0 bounds the whole
    // transfer, and no single step waits longer than the I/O timeout.
    bool httpGet(const char* url, Stream& sink, u64 limit, int totalMs);
    // "http://" is optional; an explicit ":port" after the host is honoured.
    static bool parseUrl(const char* url, Address& out);
    // False too when the length is not a number of at least one byte.
    static bool parseFeed(const char* text, UpdateInfo& info);
    // The name the installer is saved under: the last element of the url's path.
    static std::string installerName(const std::string& url);

private:
    // Repeats one network step in slices, polling between them, until it is
    // done or the step's or the transfer's time is up.
    template <typename Step> long await(Step step, i64 deadlineUs);

    platform::TcpNetwork& network_;
    int ioTimeoutMs_ = IO_TIMEOUT_MS;
    int checkTimeoutMs_ = CHECK_TIMEOUT_MS;
};

// Looks for `name` followed by `="` (so any attribute whose name ends in
// `name`) and takes the text up to the next '"'; the position of that closing
// quote, or null.
const char* findAttribute(const char* from, const char* name, std::string& value);

// A body kept in memory.
class StreamString : public Update::Stream {
public:
    bool write(const u8* data, u32 length) override;
    const std::string& text() const { return text_; }

private:
    std::string text_;
};
