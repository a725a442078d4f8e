#include "platform/TcpNetwork.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A listening socket on 127.0.0.1 that never accepts: connections complete in
// the backlog, and nothing is ever sent on them.
class SilentServer {
public:
    SilentServer() {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof a;
        if (bind(fd_, reinterpret_cast<sockaddr*>(&a), length) == 0 && listen(fd_, 4) == 0 &&
            getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &length) == 0)
            port_ = ntohs(a.sin_port);
    }
    ~SilentServer() { close(fd_); }
    u16 port() const { return port_; }
    // Stops listening: the port refuses from now on.
    void stop() {
        close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
    u16 port_ = 0;
};

TEST(TcpNetwork, WaitsEndInTheCallersHands) {
    SilentServer server;
    ASSERT_NE(server.port(), 0);
    std::string error;
    auto socket = platform::systemTcpNetwork().open("127.0.0.1", server.port(), error);
    ASSERT_TRUE(socket) << error;
    EXPECT_EQ(socket->awaitConnected(2000), 1);
    EXPECT_EQ(socket->send("GET / HTTP/1.0\r\n\r\n", 18, 2000), 18);
    char buffer[16];
    EXPECT_EQ(socket->receive(buffer, sizeof buffer, 20), platform::TcpSocket::TIMED_OUT);

    server.stop();
    auto refused = platform::systemTcpNetwork().open("127.0.0.1", server.port(), error);
    EXPECT_TRUE(!refused || refused->awaitConnected(2000) == platform::TcpSocket::FAILED);
}

} // namespace
