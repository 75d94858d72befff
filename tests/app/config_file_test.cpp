// The configuration file: quoting, comments and keys.
#include "app/config_file.h"

#include <gtest/gtest.h>

#include "base/settings.h"
#include "platform/console.h"
#include "support/test_env.h"

namespace {

class ConfigFile : public ::testing::Test {
 protected:
  void SetUp() override { testenv::ResetProcessFacilities(dir_.Path()); }
  // Writes the file and loads it; the console lines it printed.
  std::vector<std::string> Load(const std::string& text, bool usable = true) {
    testenv::WriteFile(dir_.Path() + "zelk_config.txt", text);
    platform::TConsoleCapture capture;
    EXPECT_EQ(LoadConfig(settings_), usable) << text;
    return capture.Lines();
  }
  testenv::TTempDir dir_;
  SettingsRecord settings_ = testenv::TestSettings();
};

TEST_F(ConfigFile, MissingFileSaysSoAndFails) {
  platform::TConsoleCapture capture;
  EXPECT_FALSE(LoadConfig(settings_));
  EXPECT_TRUE(capture.Contains("ATTENTION!!! : Config file \"zelk_config.txt\" was not found :("));
}

TEST_F(ConfigFile, OnlyALeadingSemicolonMarksACommentAndBlankLinesAreSkipped) {
  EXPECT_TRUE(Load("; \"rconport\" \"5\"\r\n\r\n;x\n").empty());
  EXPECT_EQ(settings_.RconPort, 0);
  Load(" ;\"rconport\" \"27015\"\n\"rconhost\" = \"10.0.0.1\" trailing remark\r\n");
  EXPECT_EQ(settings_.RconPort, 27015);
  EXPECT_EQ(settings_.RconHost, "10.0.0.1");
}

TEST_F(ConfigFile, KeysAreCaseSensitiveAndEveryBadLineIsNamedWithItsNumber) {
  auto lines = Load("\"RconPort\" \"5\"\n\"rconhost\" = 10.0.0.1\nrconhost 1.2.3.4\n\n\"rconprot\" \"1\"\n"
                    "\"client_screen_speed\" \"60\"\n\"scr_quality\" \"high\"\n\"chat_command\" \"tsay\"\n");
  EXPECT_EQ(settings_.RconPort, 0);
  EXPECT_EQ(settings_.ScreenInterval, 12);
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "zelk_config.txt line 1: unknown key \"RconPort\" (did you mean \"rconport\"?); the line is ignored",
                       "parametr was not found",
                       "zelk_config.txt line 2: \"rconhost\" has no value; the line is ignored",
                       "zelk_config.txt line 3: not a \"key\" \"value\" line; it is ignored",
                       "zelk_config.txt line 5: unknown key \"rconprot\" (did you mean \"rconport\"?); the line is ignored",
                       "zelk_config.txt line 6: \"client_screen_speed\" \"60\" is outside 6 to 50; the line is ignored",
                       "zelk_config.txt line 7: \"scr_quality\" \"high\" is not a whole number; the line is ignored",
                       "zelk_config.txt line 8: \"chat_command\" \"tsay\" must be one of \"auto\", \"amx_tsay\", "
                       "\"say\"; \"auto\" is used",
                   }));
}

// Falling back on these would ban for ever, watch no game server or split a
// community's bans: every such line is named, and the start stops.
TEST_F(ConfigFile, UnreadableValuesOfPunishingKeysStopTheStart) {
  auto lines = Load("\"ban_time\" \"30\"\n\"ban_time\" \"30 min\"\n\"rconport\" \"1x\"\n\"ban_time\" \"-5\"\n"
                    "\"ban_base\" \"mysql://u:pw@db/bans\"\n\"rconport\" \"\"\n\"rconpass\" \"CHANGE-ME\"\n"
                    "\"colour\" \"red\"\n",
                    /*usable=*/false);
  EXPECT_EQ(settings_.BanTime, 30);
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "zelk_config.txt line 2: \"ban_time\" \"30 min\" is not a whole number of minutes (Ban time "
                       "must be number!); the server stops",
                       "zelk_config.txt line 3: \"rconport\" \"1x\" is not a whole number (RCON port must have "
                       "integer value!); the server stops",
                       "zelk_config.txt line 4: \"ban_time\" \"-5\" is negative: write 0 to ban for ever, or the "
                       "minutes; the server stops",
                       "zelk_config.txt line 5: \"ban_base\" \"...@db/bans\" must be \"file\" or a postgresql:// "
                       "URI; the server stops",
                       "zelk_config.txt line 6: \"rconport\" \"\" has no value; the server stops",
                       "zelk_config.txt line 7: \"rconpass\" \"CHANGE-ME\" is the example's placeholder: set it to "
                       "the game server's rcon_password; the server stops",
                       "zelk_config.txt line 8: unknown key \"colour\"; the line is ignored"}));
  EXPECT_TRUE(Load("\"ban_time\" \"0\"\n\"ban_base\" \"file\"\n\"ban_base\" \"postgresql://db/bans\"\n").empty());
}

TEST_F(ConfigFile, RconPortMustLeaveRoomForTheCommandPort) {
  for (const auto& [port, fits] : std::vector<std::pair<int32_t, bool>>{
           {0, false}, {-5, false}, {1, true}, {64535, true}, {64536, false}, {INT32_MAX, false}}) {
    settings_.RconPort = port;
    platform::TConsoleCapture capture;
    EXPECT_EQ(CheckRconPort(settings_), fits) << port;
    EXPECT_EQ(capture.Lines().empty(), fits) << port;
  }
  Load("\"rconhost\" \"10.0.0.1\"\n");
  settings_.RconPort = 0;
  platform::TConsoleCapture capture;
  EXPECT_FALSE(CheckRconPort(settings_));
  EXPECT_TRUE(capture.ContainsPrefix("\"rconport\" is missing:"));
}

TEST_F(ConfigFile, RepeatedKeysTakeTheLastAndBooleansOnlySwitchOn) {
  Load("\"rconpass\" \"a\"\n\"rconpass\" \"b c\"\n\"allow_screens\" \"1\"\n\"allow_screens\" \"0\"\n"
       "\"procs\" \"yes\"\n");
  EXPECT_EQ(settings_.RconPass, "b c");
  EXPECT_TRUE(settings_.AllowScreens);
  EXPECT_FALSE(settings_.ProcsEnabled);
}

TEST_F(ConfigFile, ScreenQualityArithmetic) {
  const std::pair<const char*, int> cases[] = {{"100", 40}, {"25", 10}, {"27", 11}, {"5", 10},
                                               {"640", 10}, {"1000", 144}};
  for (const auto& [value, expected] : cases) {
    Load(std::string("\"scr_quality\" \"") + value + "\"\n");
    EXPECT_EQ(settings_.ScreenQuality, expected) << value;
  }
  Load("\"scr_quality\" \"abc\"\n");
  EXPECT_EQ(settings_.ScreenQuality, 144) << "a non-number leaves the value";
}

TEST_F(ConfigFile, ScreenIntervalOutside6To50KeepsTheOldValue) {
  const std::pair<const char*, int> cases[] = {{"5", 12}, {"51", 12}, {"6", 6}, {"50", 50}};
  for (const auto& [value, expected] : cases) {
    Load(std::string("\"client_screen_speed\" \"") + value + "\"\n");
    EXPECT_EQ(settings_.ScreenInterval, expected) << value;
  }
}

TEST_F(ConfigFile, CapacitiesCutLongValues) {
  Load("\"cl_id\" \"" + std::string(200, 'c') + "\"\n\"remote_pass\" \"" + std::string(40, 'r') + "\"\n\"ftp_host\" \"" +
       std::string(130, 'f') + "\"\n");
  EXPECT_EQ(settings_.ClientId, std::string(128, 'c'));
  EXPECT_EQ(settings_.RemotePass, std::string(32, 'r'));
  EXPECT_EQ(settings_.FtpHost, std::string(124, 'f'));
  EXPECT_TRUE(settings_.FtpConfigured);
}

TEST_F(ConfigFile, RegistryHostWithAndWithoutPort) {
  Load("\"registry_host\" \"registry.example:27950\"\n");
  EXPECT_EQ(settings_.RegistryHost, "registry.example");
  EXPECT_EQ(settings_.RegistryPort, 27950);
  auto lines = Load("\"registry_host\" \"127.0.0.2\"\n\"registry_host\" \"h:99999\"\n");
  EXPECT_EQ(settings_.RegistryHost, "127.0.0.2");
  EXPECT_EQ(settings_.RegistryPort, 27950);
  EXPECT_EQ(lines, std::vector<std::string>{"zelk_config.txt line 2: \"registry_host\" \"h:99999\" must be a host "
                                            "with an optional :port from 1 to 65535; the line is ignored"});
}

TEST_F(ConfigFile, ConnectionsPerAddressFrom0To50) {
  const std::pair<const char*, int> cases[] = {{"4", 4}, {"51", 4}, {"-1", 4}, {"0", 0}, {"50", 50}};
  for (const auto& [value, expected] : cases) {
    const auto lines = Load(std::string("\"max_connections_per_address\" \"") + value + "\"\n");
    EXPECT_EQ(settings_.MaxConnectionsPerAddress, expected) << value;
    EXPECT_EQ(lines.size(), expected == 4 && value != std::string("4") ? 1u : 0u) << value;
  }
}

// A notification URL may carry its secret in the path: a bad one is named
// masked, and the good ones beside it are kept.
TEST_F(ConfigFile, NotifyUrlsAreBlankSeparatedAndABadOneIsNamedMasked) {
  auto lines = Load("\"notify_url\" \"https://discord.com/api/webhooks/1/SECRETTOKEN  ftp://h/x/TOKEN2\thttp://127.0.0.1:9/h\"\n"
                    "\"notify_format\" \"json\"\n");
  EXPECT_EQ(settings_.NotifyUrls,
            (std::vector<std::string>{"https://discord.com/api/webhooks/1/SECRETTOKEN", "http://127.0.0.1:9/h"}));
  EXPECT_EQ(settings_.NotifyFormatMode, NotifyFormat::Json);
  EXPECT_EQ(lines, (std::vector<std::string>{"zelk_config.txt line 1: \"notify_url\" \"ftp://h/.../TOKE...\" is not an "
                                             "http:// or https:// address; it is left out"}));
  Load("\"notify_format\" \"slack\"\n");
  EXPECT_EQ(settings_.NotifyFormatMode, NotifyFormat::Discord);
}

TEST(NormaliseScreenDir, SlashesAndFinalSeparator) {
  EXPECT_EQ(NormaliseScreenDir("screens\\a"), "screens/a/");
  EXPECT_EQ(NormaliseScreenDir("/srv/shots/"), "/srv/shots/");
  EXPECT_EQ(NormaliseScreenDir(""), "");
}

}  // namespace
