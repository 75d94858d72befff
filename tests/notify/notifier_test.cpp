// The notifications through the real notifier, libcurl and a real HTTP
// receiver on loopback: the shapes of a ban, the retries, the full queue, a
// stop beside a receiver that never answers; and the bounds and masks of the
// texts.
#include "notify/notifier.h"

#include <gtest/gtest.h>

#include <chrono>

#include "app/notices.h"
#include "base/metrics.h"
#include "notify/notice_text.h"
#include "platform/console.h"
#include "support/http_receiver.h"
#include "support/test_env.h"

namespace {

using std::chrono::milliseconds;

// Short waits, so the retries take milliseconds.
TNotifierOptions Quick() {
  TNotifierOptions options;
  options.FirstRetry = milliseconds(20);
  options.LongestRetry = milliseconds(100);
  options.RequestTimeout = milliseconds(5000);
  return options;
}

TNotice Numbered(int n) {
  TNotice notice;
  notice.Event = "health";
  notice.Summary = "event " + std::to_string(n);
  notice.Title = "event " + std::to_string(n);
  notice.AtUnixSeconds = 1700000000;
  return notice;
}

std::string Summary(const std::string& body) {
  const size_t at = body.find("\"content\":\"") + 11;
  return body.substr(at, body.find('"', at) - at);
}

class Notifications : public ::testing::Test {
 protected:
  void SetUp() override { testenv::ResetProcessFacilities(dir_.Path()); }
  testenv::TTempDir dir_;
};

TEST_F(Notifications, ABanArrivesInDiscordShapeAndInThePlainShape) {
  TBanRecord ban;
  ban.Identifier = "MALLORY-3";
  ban.Name = "Mallory\xC0";  // cp1251 "А"
  ban.Address = "10.0.0.5";
  ban.Reason = "aimbot @everyone";
  ban.MadeAt = 1700000000;
  ban.EndsAt = ban.MadeAt + 1800;
  ban.ByName = ban.Name;
  ban.ByAddress = "10.0.0.5";
  ban.Server = "127.0.0.1:27015";
  ban.Evidence = {"10.0.0.5/a.jpg", "10.0.0.5/b.jpg"};
  testenv::THttpReceiver discord;
  testenv::THttpReceiver plain;
  {
    TNotifier toDiscord({discord.Url()}, NotifyFormat::Discord, Quick());
    TNotifier toPlain({plain.Url()}, NotifyFormat::Json, Quick());
    toDiscord.Post(BanNotice(ban));
    toPlain.Post(BanNotice(ban));
    ASSERT_TRUE(discord.WaitForPosts(1));
    ASSERT_TRUE(plain.WaitForPosts(1));
  }
  const std::string body = discord.Bodies().at(0);
  EXPECT_EQ(discord.ContentTypes().at(0), "application/json");
  EXPECT_EQ(body.rfind("{\"content\":\"Ban on 127.0.0.1:27015: \\\"Mallory\xD0\x90\\\" (ID MALLORY-3) for 30 minutes: "
                       "aimbot @everyone\",\"allowed_mentions\":{\"parse\":[]},\"embeds\":[{\"title\":\"Ban: Mallory\xD0\x90\","
                       "\"description\":\"aimbot @everyone\",",
                       0),
            0u)
      << body;
  for (const char* field : {"{\"name\":\"Identifier\",\"value\":\"MALLORY-3\",\"inline\":true}",
                            "{\"name\":\"Address\",\"value\":\"10.0.0.5\",\"inline\":true}",
                            "{\"name\":\"Length\",\"value\":\"for 30 minutes\",\"inline\":true}",
                            "{\"name\":\"Ends\",\"value\":\"2023-11-14 22:43 UTC\",\"inline\":true}",
                            "{\"name\":\"Origin\",\"value\":\"cheat report\",\"inline\":true}",
                            "{\"name\":\"Evidence\",\"value\":\"2 screenshots kept\",\"inline\":true}",
                            "],\"timestamp\":\"2023-11-14T22:13:20Z\"}]}"}) {
    EXPECT_NE(body.find(field), std::string::npos) << field << "\n" << body;
  }
  EXPECT_EQ(body.find("\"name\":\"\""), std::string::npos) << "the plain shape's own fields stay out";
  const std::string json = plain.Bodies().at(0);
  EXPECT_EQ(json.rfind("{\"event\":\"ban\",\"time\":\"2023-11-14T22:13:20Z\",\"at\":1700000000,\"summary\":", 0), 0u)
      << json;
  for (const char* field : {"\"name\":\"Mallory\xD0\x90\"", "\"identifier\":\"MALLORY-3\"", "\"minutes\":30,",
                            "\"ends_at\":1700001800,", "\"reason\":\"aimbot @everyone\"", "\"screenshots\":2}"}) {
    EXPECT_NE(json.find(field), std::string::npos) << field << "\n" << json;
  }
}

TEST_F(Notifications, FailuresAreRetriedAndSaidOncePerChangeWithTheUrlMasked) {
  const uint64_t sent = Metrics.NotificationsSent;
  const uint64_t failed = Metrics.NotificationsFailed;
  testenv::THttpReceiver flaky({500, 500});
  {
    TNotifier notifier({flaky.Url()}, NotifyFormat::Discord, Quick());
    notifier.Post(Numbered(1));
    ASSERT_TRUE(flaky.WaitForPosts(3));
  }
  EXPECT_EQ(flaky.Bodies().size(), 3u);
  EXPECT_EQ(Metrics.NotificationsSent - sent, 1u);
  EXPECT_EQ(Metrics.NotificationsFailed - failed, 0u);

  // A 404 is not tried again; the URL then gets one try per event until one
  // gets through, and the console hears of it once each way.
  testenv::THttpReceiver gone({404, 404});
  platform::TConsoleCapture capture;
  {
    TNotifier notifier({gone.Url()}, NotifyFormat::Discord, Quick());
    for (int n = 1; n <= 3; ++n) notifier.Post(Numbered(n));
    ASSERT_TRUE(gone.WaitForPosts(3));
  }
  EXPECT_EQ(gone.Bodies().size(), 3u);
  EXPECT_EQ(Metrics.NotificationsFailed - failed, 2u);
  const std::string shown = "http://127.0.0.1:" + gone.Url().substr(17, gone.Url().find('/', 17) - 17) + "/.../SECR...";
  EXPECT_EQ(capture.Lines(),
            (std::vector<std::string>{
                "Notifications: on, 1 URL in the discord format: " + shown,
                "Notifications to " + shown + " fail (HTTP 404, 1 try); each event is tried there once until one gets through",
                "Notifications to " + shown + " work again (2 events not delivered meanwhile)"}));
}

TEST_F(Notifications, AFullQueueDropsTheOldestAndCountsIt) {
  const uint64_t dropped = Metrics.NotificationsDropped;
  testenv::THttpReceiver slow;
  slow.Hold();
  TNotifierOptions options = Quick();
  options.QueueLimit = 3;
  platform::TConsoleCapture capture;
  {
    TNotifier notifier({slow.Url()}, NotifyFormat::Discord, options);
    notifier.Post(Numbered(1));
    ASSERT_TRUE(slow.WaitForPosts(1));  // the worker holds event 1; the queue is empty
    for (int n = 2; n <= 6; ++n) notifier.Post(Numbered(n));
    slow.Release();
    ASSERT_TRUE(slow.WaitForPosts(4));
  }
  std::vector<std::string> summaries;
  for (const std::string& body : slow.Bodies()) summaries.push_back(Summary(body));
  EXPECT_EQ(summaries, (std::vector<std::string>{"event 1", "event 4", "event 5", "event 6"}));
  EXPECT_EQ(Metrics.NotificationsDropped - dropped, 2u);
  EXPECT_TRUE(capture.Contains("Notifications: more than 3 events wait to be sent; the oldest are dropped"));
}

TEST_F(Notifications, AStopBesideAReceiverThatNeverAnswersEndsWithinItsGrace) {
  const uint64_t dropped = Metrics.NotificationsDropped;
  testenv::THttpReceiver dead;
  dead.Hold();
  TNotifierOptions options = Quick();
  options.RequestTimeout = milliseconds(60000);
  options.StopGrace = milliseconds(300);
  TNotifier notifier({dead.Url()}, NotifyFormat::Discord, options);
  for (int n = 1; n <= 3; ++n) notifier.Post(Numbered(n));
  ASSERT_TRUE(dead.WaitForPosts(1));
  const auto start = std::chrono::steady_clock::now();
  notifier.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(2500));
  EXPECT_EQ(Metrics.NotificationsDropped - dropped, 2u) << "the two events behind the one under way";
}

TEST(NoticeText, TextsStayWithinDiscordsBoundsAndUrlsAreMasked) {
  TNotice notice;
  notice.Summary = std::string(2100, '\xC0');  // cp1251: 2 UTF-8 bytes each
  notice.Title = std::string(300, 'x');
  notice.Fields = {{"k", "Field", std::string(1100, 'y'), std::nullopt, true}};
  const std::string body = NoticeBody(notice, NotifyFormat::Discord);
  std::string content;
  for (int i = 0; i < 1999; ++i) content += "\xD0\x90";
  EXPECT_NE(body.find("{\"content\":\"" + content + "\xE2\x80\xA6\","), std::string::npos);
  EXPECT_NE(body.find("\"title\":\"" + std::string(255, 'x') + "\xE2\x80\xA6\","), std::string::npos);
  EXPECT_NE(body.find("\"value\":\"" + std::string(1023, 'y') + "\xE2\x80\xA6\","), std::string::npos);
  EXPECT_EQ(CutText("\xF0\x9F\x98\x80\xF0\x9F\x98\x80", 3), "\xF0\x9F\x98\x80\xE2\x80\xA6") << "an emoji counts twice";
  EXPECT_EQ(CutText("abc", 3), "abc");

  EXPECT_EQ(MaskedUrl("https://discord.com/api/webhooks/123456/AbCdEfGhIj"), "https://discord.com/.../AbCd...");
  EXPECT_EQ(MaskedUrl("https://user:pw@hooks.example:8443/a/b/?token=SECRET#x"), "https://hooks.example:8443/.../b...");
  EXPECT_EQ(MaskedUrl("http://example.org/?token=SECRET"), "http://example.org/");
  EXPECT_EQ(MaskedUrl("SECRETTOKEN"), "SECR...");
  EXPECT_TRUE(IsNotifyUrl("HTTPS://discord.com/api/webhooks/1/x"));
  EXPECT_FALSE(IsNotifyUrl("https:///path"));
  EXPECT_FALSE(IsNotifyUrl("file:///etc/passwd"));
}

}  // namespace
