// The announcement to the central registry at start-up and its refresh.
#include "announce/registration.h"

#include <gtest/gtest.h>

#include "app/server.h"
#include "base/settings.h"
#include "platform/console.h"
#include "registrysim/registry_sim.h"
#include "support/test_env.h"

namespace {

class Registration : public ::testing::Test {
 protected:
  void SetUp() override {
    testenv::ResetProcessFacilities(dir_.Path());
    settings_.RconPort = testenv::PickRconPort();
    std::string error;
    ASSERT_TRUE(registry_.Start(0, &error)) << error;
    settings_.RegistryHost = "127.0.0.1";
    settings_.RegistryPort = registry_.Port();
  }
  testenv::TTempDir dir_;
  SettingsRecord settings_ = testenv::TestSettings();
  const TimingRecord timing_ = testenv::TestTiming();
  registrysim::TRegistrySim registry_;
};

TEST(RegistrationDatagram, HoldsPortVersionsAndTheEndByte) {
  testenv::TTempDir dir;
  testenv::ResetProcessFacilities(dir.Path());
  SettingsRecord settings = testenv::TestSettings();
  settings.RconPort = 27015;
  EXPECT_EQ(RegistrationDatagram(settings), std::string("\xFF\xFFtry_to_reg 27015 0.0.0 4.0.3\x01", 31));
  settings.RconPort = -5;
  settings.ClientVersion = "";
  EXPECT_EQ(RegistrationDatagram(settings), "\xFF\xFFtry_to_reg -5  4.0.3\x01");
}

TEST_F(Registration, SilentRegistryIsNeverAskedAgain) {
  platform::TConsoleCapture console;
  TServer server(settings_, timing_);
  EXPECT_EQ(console.Lines(), (std::vector<std::string>{"No connection with ORBANE to register your server in base",
                                                       std::string(46, '=')}));
  EXPECT_EQ(registry_.Datagrams(), std::vector<std::string>{RegistrationDatagram(settings_)});
  EXPECT_FALSE(server.Registered());
  server.RefreshRegistration();
  EXPECT_FALSE(registry_.WaitForDatagrams(2, 100));
}

TEST_F(Registration, AnsweredRegistrationIsRefreshedEvenWhenRefreshesGoUnanswered) {
  registry_.SetAnswer("!");
  platform::TConsoleCapture console;
  TServer server(settings_, timing_);
  EXPECT_TRUE(console.Contains("Your server has been successfully added to a ORBANE base."));
  EXPECT_TRUE(server.Registered());
  server.RefreshRegistration();
  EXPECT_EQ(registry_.Datagrams().size(), 2u);
  EXPECT_FALSE(console.Contains("No connection with ORBANE to update your server in base"));
  registry_.SetAnswer(std::nullopt);
  server.RefreshRegistration();
  EXPECT_TRUE(console.Contains("No connection with ORBANE to update your server in base"));
  EXPECT_TRUE(server.Registered());
}

}  // namespace
