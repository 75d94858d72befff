// The simulated client's screenshot transfer: start, pieces, checks.
#include "clientsim/screen_sender.h"

#include <algorithm>

namespace clientsim {
namespace {

constexpr size_t kPieceBytes = 30;

}  // namespace

std::optional<TPieceSender> TPieceSender::Open(const platform::Endpoint& server, const std::string& sourceAddress,
                                               std::string* error) {
  auto socket = platform::TUdpSocket::Open(error);
  if (!socket) return std::nullopt;
  if (!sourceAddress.empty()) {
    const auto source = platform::ParseDottedAddress(sourceAddress);
    if (!source) {
      if (error) *error = "not an IPv4 address: " + sourceAddress;
      return std::nullopt;
    }
    if (!socket->BindTo(platform::Endpoint{*source, 0}, error)) return std::nullopt;
  }
  return TPieceSender(std::move(*socket), server);
}

std::optional<std::string> TPieceSender::SendRaw(const std::string& datagram, int waitMs) {
  std::string error;
  if (!socket_.SendTo(datagram, server_, &error)) return std::nullopt;
  std::string reply;
  platform::Endpoint from;
  // Datagrams from anyone but the server are not replies; wait on.
  for (;;) {
    const auto status = socket_.ReceiveFrom(reply, from, waitMs, 8192, &error);
    if (status != platform::ReceiveStatus::Datagram) return std::nullopt;
    if (from.Port == server_.Port && from.Address == server_.Address) return reply;
  }
}

PieceReply TPieceSender::Send(const std::string& piece, int waitMs) {
  const std::optional<std::string> reply = SendRaw(piece, waitMs);
  if (!reply) return PieceReply::NoReply;
  if (*reply == "ok") return PieceReply::Ok;
  if (*reply == "resend") return PieceReply::Resend;
  if (reply->empty()) return PieceReply::Empty;
  return PieceReply::Error;
}

ScreenSendResult SendScreenshot(const CommandExchange& commands, TPieceSender& pieces, const std::string& file,
                                const ScreenSendOptions& options) {
  ScreenSendResult result;
  const size_t size = file.size();
  const auto start = commands("<start_screen> " + options.Name + " " + std::to_string(size));
  if (!start || *start != "rpl:true") {
    result.Error = "start answered " + start.value_or("nothing");
    return result;
  }
  result.Started = true;
  // Asks whether the server holds exactly count bytes.
  auto check = [&](size_t count) {
    ++result.Checks;
    const auto reply = commands("<check_screen> " + options.Name + " " + std::to_string(count));
    return reply && *reply == "rpl:ok";
  };

  bool lostOnce = false;
  size_t offset = 0;
  long index = 0;
  // A file of 0 bytes still takes one (empty) piece to complete.
  do {
    const size_t length = std::min(kPieceBytes, size - offset);
    const std::string piece = file.substr(offset, length);
    const bool last = offset + length == size;
    if (last && options.CheckBeforeLast && !check(offset)) {
      result.Error = "check before the last piece failed at " + std::to_string(offset);
      return result;
    }
    for (int tries = 1;; ++tries) {
      PieceReply reply = PieceReply::NoReply;
      if (index == options.LosePiece && !lostOnce) {
        lostOnce = true;  // as if the network dropped it
      } else {
        ++result.Datagrams;
        reply = pieces.Send(piece, options.ReplyWaitMs);
      }
      if (reply == PieceReply::Ok) break;
      if (reply == PieceReply::Empty) {
        // No transfer under way: fine only when a resent last piece finds the
        // file already saved.
        if (last && tries > 1) break;
        result.Error = "no transfer under way at " + std::to_string(offset);
        return result;
      }
      if (reply == PieceReply::Error) {
        result.Error = "unexpected reply at " + std::to_string(offset);
        return result;
      }
      // "resend", or no reply: a check tells whether the piece arrived (its
      // reply was lost) or must go again.
      if (reply == PieceReply::NoReply && check(offset + length)) break;
      if (tries >= options.MaxTries) {
        result.Error = "piece at " + std::to_string(offset) + " not accepted";
        return result;
      }
      ++result.Resends;
    }
    offset += length;
    ++index;
  } while (offset < size);
  result.Completed = true;
  return result;
}

}  // namespace clientsim
