// The command channel's transport: matching, splitting, framing, the
// connection limit, failures that close a connection, and the release.
#include "channel/command_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "base/limits.h"
#include "base/timing.h"
#include "clientsim/client_sim.h"
#include "registry/tables.h"
#include "support/test_env.h"

namespace {

using clientsim::ReadStatus;
using clientsim::TClientSim;

TEST(CommandLine, SplitsAtBlanksOnlyAndDropsEmptyWords) {
  EXPECT_EQ(SplitArguments(" x"), std::vector<std::string>{"x"});
  EXPECT_EQ(SplitArguments("John   Smith 123 "), (std::vector<std::string>{"John", "Smith", "123"}));
  EXPECT_EQ(SplitArguments("a\tb \"c d\""), (std::vector<std::string>{"a\tb", "\"c", "d\""}));
  EXPECT_TRUE(SplitArguments("").empty());
  EXPECT_TRUE(SplitArguments("   ").empty());
  EXPECT_EQ(JoinArguments({"John", "Smith", "123"}, 0, 2), "John Smith");
}

TEST(CommandLine, MatchesWholeWordOrWordAndBlankIgnoringCaseInOrder) {
  std::vector<CommandHandler> handlers = {{"<connect>", "first", nullptr},
                                          {"<update>", "UpdateCmd", nullptr},
                                          {"<CONNECT>", "second", nullptr}};
  EXPECT_EQ(MatchCommand(handlers, "<CoNNeCT> a b c"), 0);
  EXPECT_EQ(MatchCommand(handlers, "<update>"), 1);
  EXPECT_EQ(MatchCommand(handlers, "<connect>x"), -1);
  EXPECT_EQ(MatchCommand(handlers, " <update> a 1"), -1);
  EXPECT_EQ(MatchCommand(handlers, "<update>\r"), -1);
  EXPECT_EQ(MatchCommand(handlers, "<upd"), -1);
}

// The dispatcher owns the reply: a handler that only fills it in gets it
// written once, in one write, after its BusyFlag guard has let the flag go; a
// failed handler's reply still goes out before the connection closes.
TEST(Dispatcher, WritesTheFilledInReplyOnceAfterTheHandlerReleasedBusyFlag) {
  TTables tables;
  std::vector<std::string> noneArguments;
  const std::vector<CommandHandler> handlers = {
      {"<one>", "OneCmd",
       [&tables](CommandCall& call) {
         TBusyGuard busy(tables);
         call.ReplyText = {"rpl:one"};
       }},
      {"<fail>", "FailCmd",
       [&tables](CommandCall& call) {
         TBusyGuard busy(tables);
         call.ReplyText = {"rpl:false"};
         call.Failed = true;
       }},
      {"<none>", "NoneCmd", [&noneArguments](CommandCall& call) { noneArguments = call.Arguments; }}};
  std::vector<std::string> writes;
  int writesWhileBusy = 0;
  const ReplyWriterFn write = [&](const std::string& wire) {
    writes.push_back(wire);
    if (tables.IsBusy()) ++writesWhileBusy;
    return true;
  };
  // One connection's scratch for every line: nothing of a line may reach the
  // next (its reply, its words, its failure).
  TLineScratch scratch;
  EXPECT_EQ(RunCommandLine(handlers, "<one> x y", "10.0.0.5", write, nullptr, scratch), LineEnd::Continue);
  EXPECT_EQ(RunCommandLine(handlers, "<none> z", "10.0.0.5", write, nullptr, scratch), LineEnd::Continue);
  EXPECT_EQ(noneArguments, std::vector<std::string>{"z"});
  EXPECT_EQ(RunCommandLine(handlers, "<fail>", "10.0.0.5", write, nullptr, scratch), LineEnd::Close);
  EXPECT_EQ(RunCommandLine(handlers, "<none>", "10.0.0.5", write, nullptr, scratch), LineEnd::Continue);
  EXPECT_TRUE(noneArguments.empty());
  EXPECT_EQ(writes, (std::vector<std::string>{"rpl:one\r\n", "rpl:false\r\n"}));
  EXPECT_EQ(writesWhileBusy, 0);
  EXPECT_EQ(RunCommandLine(handlers, "<one>", "10.0.0.5", [](const std::string&) { return false; }), LineEnd::Close)
      << "a reply that cannot be written ends the connection";
}

// A command server on a free loopback port with handlers that echo what they
// received, so the tests see dispatch and splitting from the client's side.
class Transport : public ::testing::Test {
 protected:
  void SetUp() override { testenv::ResetProcessFacilities(dir_.Path()); }
  void TearDown() override { server_.Release(); }

  void Start(int maxConnections = 50, TConnectionLimits limits = {kFirstLineMs, kSilentConnectionMs, 0}) {
    server_.Configure(0, 15, maxConnections, timing_.TerminateWaitMs, timing_.TerminateCheckMs);
    server_.SetConnectionLimits(limits);
    // Plays a registered client's line: its connection keeps its place.
    server_.RegisterCommand("<connect>", "ConnectCmd", [this](CommandCall& call) {
      ++calls_;
      call.FromClient = true;
      call.ReplyText = {"rpl:[" + call.ArgumentText + "]" + std::to_string(call.Arguments.size())};
    });
    // The server sends the reply after the handler returns.
    server_.RegisterCommand("<pending>", "PendingCmd", [](CommandCall& call) { call.ReplyText = {"rpl:late"}; });
    server_.RegisterCommand("<lines>", "LinesCmd", [](CommandCall& call) { call.ReplyText = {"one\r\ntwo\nthree"}; });
    server_.RegisterCommand("<silent>", "SilentCmd", [](CommandCall&) {});
    server_.RegisterCommand("<fail>", "FailCmd", [](CommandCall& call) {
      call.ReplyText = {"rpl:false"};
      call.Failed = true;
    });
    std::string error;
    ASSERT_TRUE(server_.Activate(&error)) << error;
  }

  TClientSim Open(const std::string& from = "") {
    std::string error;
    auto client = TClientSim::Open("127.0.0.1", server_.BoundPort(), &error, from);
    if (!client) ADD_FAILURE() << error;
    return std::move(*client);
  }

  testenv::TTempDir dir_;
  const TimingRecord timing_ = testenv::TestTiming();
  TCommandServer server_;
  std::atomic<int> calls_{0};
};

TEST_F(Transport, DispatchesWithTheArgumentTextAfterTheBlank) {
  Start();
  TClientSim client = Open();
  EXPECT_EQ(client.Command("<connect>"), "rpl:[]0");
  EXPECT_EQ(client.Command("<CONNECT>  x"), "rpl:[ x]1");
  EXPECT_EQ(client.Command("<connect> John   Smith 1\t2"), "rpl:[John   Smith 1\t2]3");
}

TEST_F(Transport, RepliesAreFramedAndAPendingReplyIsSentAfterTheHandler) {
  Start();
  TClientSim client = Open();
  EXPECT_EQ(client.Command("<pending>"), "rpl:late");
  EXPECT_EQ(client.Command("<lines>"), "one");
  std::string line;
  ASSERT_EQ(client.ReadLine(line, 2000), ReadStatus::Line);
  EXPECT_EQ(line, "two");
  ASSERT_EQ(client.ReadLine(line, 2000), ReadStatus::Line);
  EXPECT_EQ(line, "three");
  // An empty reply puts nothing on the wire: the next line read is the next reply.
  ASSERT_TRUE(client.SendLine("<silent>"));
  EXPECT_EQ(client.Command("<connect> a"), "rpl:[a]1");
}

TEST_F(Transport, LinesInOnePacketAreAnsweredInOrderAndEmptyLinesIgnored) {
  Start();
  TClientSim client = Open();
  ASSERT_TRUE(client.SendRaw("\n\r\n<connect> 1\r\n<pending>\n<connect> 2\n"));
  std::string line;
  for (const char* expected : {"rpl:[1]1", "rpl:late", "rpl:[2]1"}) {
    ASSERT_EQ(client.ReadLine(line, 2000), ReadStatus::Line);
    EXPECT_EQ(line, expected);
  }
  EXPECT_EQ(client.ReadLine(line, 100), ReadStatus::Timeout);
}

TEST_F(Transport, UnknownCommandsCloseWithoutAReplyAndAFailedHandlerAfterItsReply) {
  Start();
  for (const char* bad : {"<connect>x", " <connect> a", "<connect>\r\r", "hello"}) {
    TClientSim client = Open();
    ASSERT_TRUE(client.SendLine(bad));
    EXPECT_TRUE(client.WaitClosed(2000)) << bad;
  }
  EXPECT_EQ(calls_.load(), 0);
  TClientSim client = Open();
  EXPECT_EQ(client.Command("<fail>"), "rpl:false");
  EXPECT_TRUE(client.WaitClosed(2000));
}

TEST_F(Transport, LineLengthLimitCountsARemovedCarriageReturn) {
  Start();
  const std::string prefix = "<connect> ";
  const std::string longest = prefix + std::string(kMaxLineBytes - prefix.size(), 'a');
  TClientSim client = Open();
  EXPECT_EQ(client.Command(longest), "rpl:[" + longest.substr(prefix.size()) + "]1");

  TClientSim withCr = Open();
  ASSERT_TRUE(withCr.SendRaw(longest + "\r\n"));
  EXPECT_TRUE(withCr.WaitClosed(2000));

  // Too much without any line feed: closed before the line ends.
  TClientSim endless = Open();
  ASSERT_TRUE(endless.SendRaw(longest + "b"));
  EXPECT_TRUE(endless.WaitClosed(2000));
  EXPECT_EQ(calls_.load(), 1);
}

TEST_F(Transport, ALineWithoutItsLineFeedIsDroppedAtClose) {
  Start();
  {
    TClientSim client = Open();
    ASSERT_TRUE(client.SendRaw("<connect> a b c"));
  }
  ASSERT_TRUE(server_.WaitConnectionCount(0, 2000));
  EXPECT_EQ(calls_.load(), 0);
}

TEST_F(Transport, TheConnectionOverTheLimitIsClosedAtOnce) {
  Start(kMaxConnections);
  std::vector<TClientSim> clients;
  // One at a time, each served before the next: a burst of connects faster
  // than the accepts would overflow the listen queue of 15 and stall in SYN
  // retransmissions.
  for (int i = 0; i < kMaxConnections; ++i) {
    clients.push_back(Open());
    ASSERT_EQ(clients.back().Command("<connect> " + std::to_string(i)), "rpl:[" + std::to_string(i) + "]1");
  }
  ASSERT_TRUE(server_.WaitConnectionCount(kMaxConnections, 5000));

  TClientSim refused = Open();
  EXPECT_TRUE(refused.WaitClosed(2000));
  EXPECT_EQ(clients.front().Command("<connect> still"), "rpl:[still]1");

  clients.back().Close();
  ASSERT_TRUE(server_.WaitConnectionCount(kMaxConnections - 1, 2000));
  TClientSim again = Open();
  EXPECT_EQ(again.Command("<connect> again"), "rpl:[again]1");
}

TEST_F(Transport, SilentConnectionsGiveTheirPlaceBack) {
  Start(kMaxConnections, {300, 600, 0});
  TClientSim silent = Open();
  EXPECT_TRUE(silent.WaitClosed(5000)) << "no line within the first-line bound";
  TClientSim talker = Open();
  EXPECT_EQ(talker.Command("<connect> a"), "rpl:[a]1");
  EXPECT_TRUE(talker.WaitClosed(5000)) << "silent after its line";
  // Blank lines and a line that never ends are no sign of life.
  TClientSim trickler = Open();
  bool closed = false;
  std::string line;
  for (int i = 0; i < 50 && !closed; ++i) {
    closed = !trickler.SendRaw(i % 2 == 0 ? "\n" : "<") || trickler.ReadLine(line, 100) == ReadStatus::Closed;
  }
  EXPECT_TRUE(closed);
  EXPECT_EQ(calls_.load(), 1);
}

TEST_F(Transport, WhenFullTheLongestSilentConnectionWithoutAClientMakesRoom) {
  Start(3, {kFirstLineMs, kSilentConnectionMs, 0, /*GraceMs=*/0});
  TClientSim client = Open();
  EXPECT_EQ(client.Command("<connect> c"), "rpl:[c]1");  // a registered client's line, then silent longest
  TClientSim older = Open();
  EXPECT_EQ(older.Command("<pending>"), "rpl:late");
  TClientSim newer = Open();
  EXPECT_EQ(newer.Command("<pending>"), "rpl:late");
  ASSERT_TRUE(server_.WaitConnectionCount(3, 2000));

  TClientSim fresh = Open();
  EXPECT_TRUE(older.WaitClosed(2000));
  EXPECT_EQ(fresh.Command("<pending>"), "rpl:late");
  EXPECT_EQ(client.Command("<connect> c"), "rpl:[c]1");
  EXPECT_EQ(newer.Command("<pending>"), "rpl:late");
}

// A flood of silent connections while the server is full: the old ones make
// room, but a client that waits 400 ms before its first line is in its grace
// and keeps its place. Without the grace the sixth flood connection takes it,
// whatever the timing, as long as all of it happens within the grace.
TEST_F(Transport, AFloodCannotPushOutAClientBeforeItsFirstLine) {
  Start(5);
  std::vector<TClientSim> old;
  for (int i = 0; i < 5; ++i) old.push_back(Open());
  ASSERT_TRUE(server_.WaitConnectionCount(5, 2000));
  std::this_thread::sleep_for(std::chrono::milliseconds(kNewConnectionGraceMs + 100));  // out of their grace

  TClientSim client = Open();
  ASSERT_TRUE(old[0].WaitClosed(2000)) << "the oldest made room for the client";
  const auto connected = std::chrono::steady_clock::now();
  std::vector<TClientSim> flood;
  for (int i = 0; i < 12; ++i) {
    flood.push_back(Open("127.0.0." + std::to_string(2 + i)));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  for (size_t i = 1; i < old.size(); ++i) EXPECT_TRUE(old[i].WaitClosed(2000)) << "made room for the flood";
  for (size_t i = 4; i < flood.size(); ++i) EXPECT_TRUE(flood[i].WaitClosed(2000)) << "no place left: closed at once";
  std::this_thread::sleep_until(connected + std::chrono::milliseconds(400));
  EXPECT_EQ(client.Command("<connect> late"), "rpl:[late]1");
  ASSERT_LT(std::chrono::steady_clock::now() - connected, std::chrono::milliseconds(kNewConnectionGraceMs))
      << "too slow a machine to tell";
}

TEST_F(Transport, ConnectionsFromOneAddressAreCappedWhenAsked) {
  Start(kMaxConnections, {kFirstLineMs, kSilentConnectionMs, 2});
  TClientSim a = Open();
  TClientSim b = Open();
  EXPECT_EQ(b.Command("<pending>"), "rpl:late");
  TClientSim third = Open();
  EXPECT_TRUE(third.WaitClosed(2000));
  TClientSim other = Open("127.0.0.2");
  EXPECT_EQ(other.Command("<pending>"), "rpl:late");
  EXPECT_EQ(a.Command("<pending>"), "rpl:late");
  EXPECT_EQ(testenv::CountOf(testenv::ReadFile(dir_.Path() + "logs/zelk_logs.txt"),
                             "Connection refused: 127.0.0.1 has 2 command connections already "
                             "(max_connections_per_address)\r\n"),
            1);
}

// A thread whose connection has ended serves the next one: nothing of the
// last (a line cut short by its close) carries over, and the release ends the
// thread left waiting.
TEST_F(Transport, EachConnectionStartsAfreshOnTheThreadTheLastOneLeft) {
  Start();
  for (int round = 0; round < 3; ++round) {
    TClientSim cut = Open();
    ASSERT_TRUE(cut.SendRaw("<connect> cut"));  // no line feed: dropped at the close
    cut.Close();
    ASSERT_TRUE(server_.WaitConnectionCount(0, 2000));
    TClientSim next = Open();
    EXPECT_EQ(next.Command("<connect> b " + std::to_string(round)), "rpl:[b " + std::to_string(round) + "]2");
    next.Close();
    ASSERT_TRUE(server_.WaitConnectionCount(0, 2000));
  }
  EXPECT_EQ(calls_, 3);
  EXPECT_TRUE(server_.Release());
}

TEST_F(Transport, ReleaseClosesIdleConnections) {
  Start();
  TClientSim client = Open();
  EXPECT_EQ(client.Command("<connect> a"), "rpl:[a]1");
  EXPECT_TRUE(server_.Release());
  EXPECT_TRUE(client.WaitClosed(2000));
  EXPECT_EQ(server_.ConnectionCount(), 0);
  EXPECT_TRUE(server_.Release());  // idempotent
}

// A handler blocked on BusyFlag outlives the termination wait: the release
// reports it, and the straggler ends safely once BusyFlag comes free, even
// after the server object is gone.
TEST_F(Transport, ReleaseTimesOutOnAHandlerThatStaysBlocked) {
  auto server = std::make_unique<TCommandServer>();
  server->Configure(0, 15, 50, 150, timing_.TerminateCheckMs);
  auto finished = std::make_shared<std::promise<void>>();
  // The straggler outlives the test's other objects: it keeps the tables alive.
  auto tables = std::make_shared<TTables>();
  server->RegisterCommand("<wait>", "WaitCmd", [finished, tables](CommandCall& call) {
    {
      TBusyGuard busy(*tables);
    }
    call.ReplyText = {"rpl:waited"};
    finished->set_value();
  });
  std::string error;
  ASSERT_TRUE(server->Activate(&error)) << error;

  auto busy = std::make_unique<TBusyGuard>(*tables);
  auto client = TClientSim::Open("127.0.0.1", server->BoundPort(), &error);
  ASSERT_TRUE(client);
  ASSERT_TRUE(client->SendLine("<wait>"));
  std::string line;
  EXPECT_EQ(client->ReadLine(line, 100), ReadStatus::Timeout);  // the handler waits for BusyFlag

  EXPECT_FALSE(server->Release());
  server.reset();
  busy.reset();
  EXPECT_EQ(finished->get_future().wait_for(std::chrono::seconds(5)), std::future_status::ready);
}

}  // namespace
