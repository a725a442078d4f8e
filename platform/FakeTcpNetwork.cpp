#include "platform/FakeTcpNetwork.h"

#include <algorithm>
#include <cstring>

namespace platform {

namespace {

class FakeTcpSocket : public TcpSocket {
public:
    explicit FakeTcpSocket(std::shared_ptr<FakePeer> peer) : peer_(std::move(peer)) {}

    long awaitConnected(int) override {
        if (peer_->refuse)
            return FAILED;
        return peer_->stallConnect ? TIMED_OUT : 1;
    }
    long send(const void* data, std::size_t size, int) override {
        peer_->request.append(static_cast<const char*>(data), size);
        return static_cast<long>(size);
    }
    long receive(void* buffer, std::size_t capacity, int) override {
        if (offset_ >= peer_->stallAfter)
            return TIMED_OUT;
        std::size_t left = peer_->response.size() - offset_;
        std::size_t n = std::min({left, capacity, peer_->chunk, peer_->stallAfter - offset_});
        std::memcpy(buffer, peer_->response.data() + offset_, n);
        offset_ += n;
        return static_cast<long>(n);
    }

private:
    std::shared_ptr<FakePeer> peer_;
    std::size_t offset_ = 0;
};

} // namespace

std::shared_ptr<FakePeer> FakeTcpNetwork::peer(const std::string& host, u16 port) {
    std::shared_ptr<FakePeer>& p = peers_[{host, port}];
    if (!p)
        p = std::make_shared<FakePeer>();
    return p;
}

std::unique_ptr<TcpSocket> FakeTcpNetwork::open(const std::string& host, u16 port,
                                                std::string& error) {
    auto found = peers_.find({host, port});
    if (found == peers_.end()) {
        error = "unknown host";
        return nullptr;
    }
    ++found->second->connections;
    return std::unique_ptr<TcpSocket>(new FakeTcpSocket(found->second));
}

} // namespace platform
