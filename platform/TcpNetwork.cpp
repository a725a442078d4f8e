#include "platform/TcpNetwork.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

namespace {

class PosixTcpSocket : public TcpSocket {
public:
    explicit PosixTcpSocket(int fd) : fd_(fd) {}
    ~PosixTcpSocket() override { ::close(fd_); }
    PosixTcpSocket(const PosixTcpSocket&) = delete;
    PosixTcpSocket& operator=(const PosixTcpSocket&) = delete;

    long awaitConnected(int timeoutMs) override {
        if (connected_)
            return 1;
        long ready = wait(POLLOUT, timeoutMs);
        if (ready != 1)
            return ready;
        int error = 0;
        socklen_t length = sizeof error;
        if (getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0)
            return FAILED;
        connected_ = true;
        return 1;
    }

    long send(const void* data, std::size_t size, int timeoutMs) override {
        long ready = wait(POLLOUT, timeoutMs);
        if (ready != 1)
            return ready;
        // A peer that went away must fail the call, not end the process.
        ssize_t sent = ::send(fd_, data, size, MSG_NOSIGNAL);
        if (sent < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK ? TIMED_OUT : FAILED;
        return static_cast<long>(sent);
    }

    long receive(void* buffer, std::size_t capacity, int timeoutMs) override {
        long ready = wait(POLLIN, timeoutMs);
        if (ready != 1)
            return ready;
        ssize_t got = ::recv(fd_, buffer, capacity, 0);
        if (got < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK ? TIMED_OUT : FAILED;
        return static_cast<long>(got);
    }

private:
    long wait(short events, int timeoutMs) {
        pollfd p{fd_, events, 0};
        int n;
        do {
            n = ::poll(&p, 1, timeoutMs < 0 ? 0 : timeoutMs);
        } while (n < 0 && errno == EINTR);
        if (n < 0)
            return FAILED;
        if (n == 0)
            return TIMED_OUT;
        // An error or hang-up still lets a pending read see the rest of the data.
        if ((p.revents & events) == 0 && (p.revents & (POLLERR | POLLNVAL)))
            return FAILED;
        return 1;
    }

    int fd_;
    bool connected_ = false;
};

class PosixTcpNetwork : public TcpNetwork {
public:
    std::unique_ptr<TcpSocket> open(const std::string& host, u16 port,
                                    std::string& error) override {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_protocol = IPPROTO_TCP;
        addrinfo* found = nullptr;
        const std::string service = std::to_string(port);
        int status = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
        if (status != 0 || !found) {
            error = gai_strerror(status);
            return nullptr;
        }
        std::unique_ptr<TcpSocket> socket;
        for (addrinfo* a = found; a && !socket; a = a->ai_next) {
            int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                              a->ai_protocol);
            if (fd < 0) {
                error = std::strerror(errno);
                continue;
            }
            if (::connect(fd, a->ai_addr, a->ai_addrlen) != 0 && errno != EINPROGRESS) {
                error = std::strerror(errno);
                ::close(fd);
                continue;
            }
            socket.reset(new PosixTcpSocket(fd));
        }
        freeaddrinfo(found);
        return socket;
    }
};

} // namespace

TcpNetwork& systemTcpNetwork() {
    static PosixTcpNetwork network;
    return network;
}

} // namespace platform
