#pragma once

// The test double of the network: one scripted peer per host and port. It
// answers with fixed bytes in chunks, records what it was sent, and can refuse
// the connection or stall at a chosen point as a dead server would.

#include "platform/TcpNetwork.h"

#include <map>
#include <memory>
#include <string>
#include <utility>

namespace platform {

struct FakePeer {
    std::string response;                     // what the peer sends, then it closes
    std::size_t chunk = 1000;                 // the most one receive hands out
    bool refuse = false;                      // the connection fails
    std::size_t stallAfter = ~std::size_t(0); // receives time out from this offset on
    bool stallConnect = false;                // the connection never completes
    // Filled by the sockets.
    std::string request;
    int connections = 0;
};

class FakeTcpNetwork : public TcpNetwork {
public:
    // The peer at host:port, made on first use.
    std::shared_ptr<FakePeer> peer(const std::string& host, u16 port);

    std::unique_ptr<TcpSocket> open(const std::string& host, u16 port, std::string& error) override;

private:
    std::map<std::pair<std::string, u16>, std::shared_ptr<FakePeer>> peers_;
};

} // namespace platform
