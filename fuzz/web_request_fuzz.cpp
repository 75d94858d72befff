// The web console's request handling, without a socket: the input is one
// request (method, path and query, header lines, a form body) handed to the
// console's own entry, TWebConsole::Serve, as the HTTP layer hands it: host
// and origin checks, the session or the password and its throttle, the router,
// the searches and details of a small record base, bans and lifts by hand,
// the public ban list and its appeals.
//
// Input: byte 0 picks the method, byte 1 the tokens the request carries that a
// fuzzer cannot guess (bit 0: the right password, 1: a live session cookie,
// 2: the page's token, 3: "Host: localhost", 4: the console without a
// password); then the request line's target, the header lines ("Name: value")
// up to an empty line, and the body, read as a form.
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "supervision/supervision_report.h"
#include "platform/program_dir.h"
#include "bans/records/appeal_base.h"
#include "bans/records/recorded_file_store.h"
#include "web/http_server.h"
#include "web/web_access.h"
#include "web/web_console.h"

namespace {

struct TConsoles {
  SettingsRecord WithPassword = fuzz::PlausibleSettings();
  SettingsRecord WithoutPassword = fuzz::PlausibleSettings();
  TLastSupervisionReport Report;
  std::unique_ptr<records::TRecordedFileStore> Records;
  std::unique_ptr<records::TSqliteAppeals> Appeals;
  std::unique_ptr<TWebConsole> Locked, Open;
  std::string Token, Session;
};

// Splits "a=1&b=2" into the request's parameters, as they come (undecoded).
void AddParams(const std::string& text, THttpRequest& request) {
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('&', start);
    if (end == std::string::npos) end = text.size();
    const std::string pair = text.substr(start, end - start);
    const size_t equals = pair.find('=');
    if (!pair.empty()) {
      request.Params.emplace_back(pair.substr(0, equals),
                                  equals == std::string::npos ? std::string() : pair.substr(equals + 1));
    }
    start = end + 1;
  }
}

TConsoles& Consoles() {
  static TConsoles* consoles = [] {
    auto* made = new TConsoles();  // never destroyed: the target ends with the process
    made->WithPassword.WebPassword = "pw";
    made->WithPassword.WebTrustedProxies = "127.0.0.1";
    made->WithPassword.WebHosts = "console.example.org";
    // The public ban list and its appeals, on the console with the password.
    made->WithPassword.WebPublic = true;
    made->WithPassword.WebPublicEvidence = true;
    TServerState& state = fuzz::State();
    made->Records = std::make_unique<records::TRecordedFileStore>(platform::DataDirectory() + "acserver.db");
    state.Bans.Use(made->Records.get());
    made->Appeals = std::make_unique<records::TSqliteAppeals>(platform::DataDirectory() + "acserver.db");
    TSupervisionReport report;
    report.AtUnixSeconds = 1700000000;
    report.Answered = true;
    report.Players.push_back({"Игрок", "10.0.0.1", 27005, 2, PlayerKind::Player, Protection::Client});
    made->Report.Publish(report);
    const auto sources = [&](const SettingsRecord& settings) {
      return TWebConsole::TSources{settings, state.Tables, state.Bans, made->Report, state.Rcon, state.Enforcement,
                                   nullptr, {}, {}, made->Appeals.get()};
    };
    made->Locked = TWebConsole::Offline(sources(made->WithPassword));
    made->Open = TWebConsole::Offline(sources(made->WithoutPassword));
    // The page gives its token, and to the password a session.
    THttpRequest page;
    page.Method = "GET";
    page.Path = "/";
    page.PeerAddress = "127.0.0.1";
    page.Headers = {{"Host", "localhost"}, {"Authorization", BasicAuthorization("admin", "pw")}};
    THttpResponse answer;
    made->Locked->Serve(page, answer);
    const std::string meta = "name=\"console-token\" content=\"";
    const size_t at = answer.Body.find(meta);
    if (at != std::string::npos) made->Token = answer.Body.substr(at + meta.size(), 32);
    for (const auto& [name, value] : answer.Headers) {
      if (name == "Set-Cookie") made->Session = value.substr(0, value.find(';'));
    }
    return made;
  }();
  return *consoles;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::SetUpProcess();
  Consoles();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  fuzz::SetUpInput();
  TConsoles& consoles = Consoles();
  static const char* kMethods[] = {"GET", "POST", "HEAD", "PUT", "DELETE", ""};
  THttpRequest request;
  request.Method = kMethods[data[0] % 6];
  request.PeerAddress = "127.0.0.1";
  const uint8_t flags = data[1];
  const std::string text = fuzz::Text(data + 2, size - 2);
  const size_t blank = text.find("\n\n");
  const std::vector<std::string> head = fuzz::Lines(text.substr(0, blank));
  const std::string target = head.front();
  const size_t question = target.find('?');
  request.Path = target.substr(0, question);
  if (question != std::string::npos) AddParams(target.substr(question + 1), request);
  if (flags & 8) request.Headers.emplace_back("Host", "localhost");
  if (flags & 1) request.Headers.emplace_back("Authorization", BasicAuthorization("admin", "pw"));
  if (flags & 2) request.Headers.emplace_back("Cookie", consoles.Session);
  if (flags & 4) request.Headers.emplace_back("X-Console-Token", consoles.Token);
  for (size_t i = 1; i < head.size(); ++i) {
    const size_t colon = head[i].find(':');
    if (colon == std::string::npos) continue;
    const size_t value = head[i].find_first_not_of(' ', colon + 1);
    request.Headers.emplace_back(head[i].substr(0, colon),
                                 value == std::string::npos ? std::string() : head[i].substr(value));
  }
  if (blank != std::string::npos) {
    request.Body = text.substr(blank + 2);
    AddParams(request.Body, request);
  }
  THttpResponse response;
  ((flags & 16) ? consoles.Open : consoles.Locked)->Serve(request, response);
  if (response.Status < 200 || response.Status > 599) std::abort();
  // Every text answer says its charset.
  if (response.ContentType.rfind("image/", 0) != 0 && response.ContentType.find("charset=utf-8") == std::string::npos) {
    std::abort();
  }
  return 0;
}
