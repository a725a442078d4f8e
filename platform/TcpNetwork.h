#pragma once

// The program's one door to the network: plain TCP client connections, as the
// update check needs them. Every wait is bounded by the caller's timeout and
// comes back in the caller's hands, so that a progress box can keep the window
// alive and honour Cancel between two waits. Tests put FakeTcpNetwork in the
// system's place.

#include "core/Types.h"

#include <cstddef>
#include <memory>
#include <string>

namespace platform {

class TcpSocket {
public:
    // Results of the waits besides a byte count.
    static constexpr long FAILED = -1;
    static constexpr long TIMED_OUT = -2;

    virtual ~TcpSocket() = default;
    // 1 once connected, TIMED_OUT while the connection is still being made,
    // FAILED when it was refused or broke.
    virtual long awaitConnected(int timeoutMs) = 0;
    // The bytes sent (at least 1), TIMED_OUT or FAILED.
    virtual long send(const void* data, std::size_t size, int timeoutMs) = 0;
    // The bytes received (at least 1), 0 at the end of the stream, TIMED_OUT or
    // FAILED.
    virtual long receive(void* buffer, std::size_t capacity, int timeoutMs) = 0;
};

class TcpNetwork {
public:
    virtual ~TcpNetwork() = default;
    // Starts a connection to host:port; a numeric address is taken as it stands,
    // a name is resolved. Null with `error` set when the host is unknown or no
    // socket could be made.
    virtual std::unique_ptr<TcpSocket> open(const std::string& host, u16 port,
                                            std::string& error) = 0;
};

// The POSIX sockets of this machine.
TcpNetwork& systemTcpNetwork();

} // namespace platform
