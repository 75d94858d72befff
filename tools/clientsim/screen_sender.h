// The screenshot side of the client simulator: opens a transfer with
// "<start_screen>", sends the file as 30-byte UDP pieces stop-and-wait (the
// last piece holds the size modulo 30), handles the replies "ok", "resend" and
// the empty datagram, and uses "<check_screen>" to find out whether a piece
// whose reply never came has arrived. A piece can be lost on purpose to show
// that correction path.
//
// The command side is a function that sends one line and returns its reply
// line, so the sender works over any line connection (TClientSim::Command) or
// with an in-process call of the handlers.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/socket.h"

namespace clientsim {

// Sends one command line and returns its reply line (CR LF removed); nullopt
// when the connection failed or no reply came in time.
using CommandExchange = std::function<std::optional<std::string>(const std::string& line)>;

enum class PieceReply { Ok, Resend, Empty, NoReply, Error };

// The UDP side: one socket that sends pieces to the screen port and waits for
// each reply before the next piece goes out.
class TPieceSender {
 public:
  // Sends from sourceAddress when it is not empty (a loopback address such as
  // 127.0.0.2), else from whatever address the system picks.
  static std::optional<TPieceSender> Open(const platform::Endpoint& server, const std::string& sourceAddress,
                                          std::string* error);
  // Sends one datagram and waits at most waitMs for the server's reply.
  PieceReply Send(const std::string& piece, int waitMs);
  // Sends a datagram and returns the raw reply, nullopt when none came.
  std::optional<std::string> SendRaw(const std::string& datagram, int waitMs);

 private:
  TPieceSender(platform::TUdpSocket socket, platform::Endpoint server)
      : socket_(std::move(socket)), server_(server) {}
  platform::TUdpSocket socket_;
  platform::Endpoint server_;
};

struct ScreenSendOptions {
  std::string Name;             // the player name the client registered under
  int ReplyWaitMs = 1000;       // wait for each piece's reply
  int MaxTries = 5;             // sends of one piece before giving up
  long LosePiece = -1;          // this piece (0-based) is lost once: not sent, found by a check, sent again
  bool CheckBeforeLast = true;  // "<check_screen>" with the count held before the last piece
};

struct ScreenSendResult {
  bool Started = false;    // "<start_screen>" answered "rpl:true"
  bool Completed = false;  // every piece acknowledged; the server has the whole file
  long Datagrams = 0;      // pieces sent, resends included
  int Resends = 0;         // pieces sent again after "resend" or after a check found them missing
  int Checks = 0;          // "<check_screen>" lines sent
  std::string Error;       // why the transfer stopped, when it did not complete
};

// Sends one screenshot through the whole exchange. Not thread safe per sender.
ScreenSendResult SendScreenshot(const CommandExchange& commands, TPieceSender& pieces, const std::string& file,
                                const ScreenSendOptions& options);

}  // namespace clientsim
