#include "rcon/rcon_link.h"

#include "base/limits.h"

namespace {

class TUdpRconLink : public TRconLink {
 public:
  explicit TUdpRconLink(platform::TUdpSocket socket) : socket_(std::move(socket)) {}

  bool Send(const std::string& datagram, const platform::Endpoint& to, std::string* error) override {
    return socket_.SendTo(datagram, to, error);
  }

  platform::ReceiveStatus Receive(std::string& data, platform::Endpoint& from, int timeoutMs,
                                  std::string* error) override {
    return socket_.ReceiveFromUnlessStopped(data, from, timeoutMs, kMaxDatagramBytes, error);
  }

 private:
  platform::TUdpSocket socket_;
};

}  // namespace

std::unique_ptr<TRconLink> OpenUdpRconLink(std::string* error) {
  auto socket = platform::TUdpSocket::Open(error);
  if (!socket) return nullptr;
  return std::make_unique<TUdpRconLink>(std::move(*socket));
}
