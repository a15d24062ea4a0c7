#include <gtest/gtest.h>

#include <map>
#include <string>

#include "settings/Options.h"
#include "support/TempDir.h"
#include "support/TestDataDir.h"

namespace {

TEST(OptionsFile, SavedOptionsLoadBackAndAMissingFileGivesTheSafeDefaults) {
  qbtest::TempDir dir;
  qb::OpResult result;
  qb::ExtraOptions loaded = qbtest::LoadOptionsFrom(dir.Path(), &result);
  ASSERT_TRUE(result.ok());
  EXPECT_FALSE(loaded.script.allowDirect);
  EXPECT_FALSE(loaded.systemProxy.chosen);
  EXPECT_EQ(loaded.WhenDown(), qb::WhenProxyDown::Block);
  EXPECT_FALSE(loaded.endpoint.enabled);
  EXPECT_EQ(loaded.endpoint.listen, "127.0.0.1:8899");
  EXPECT_EQ(loaded.api, qb::ApiOptions{});

  qb::ExtraOptions o;
  // Going direct is the system proxy's choice now, which the script follows: a script
  // allowed to go direct is a choice made.
  o.script.failover = true;
  o.SetWhenDown(qb::WhenProxyDown::Direct);
  o.systemProxy.reapply = true;
  o.notify.poolLowBelow = 7;
  o.notify.runDone = false;
  o.endpoint.enabled = true;
  o.endpoint.listen = "[::1]:3128";
  o.endpoint.policy = qb::EndpointPolicy::RoundRobin;
  o.endpoint.types = {"HTTP", "SOCKS5"};
  o.api.listen = "[::1]:8898";
  o.api.token = "s3cret";
  ASSERT_TRUE(qbtest::SaveOptionsIn(dir.Path(), o).ok());
  loaded = qbtest::LoadOptionsFrom(dir.Path(), &result);
  ASSERT_TRUE(result.ok());
  EXPECT_EQ(loaded, o);
}

TEST(OptionsFile, WhatDoesNotParseKeepsItsDefault) {
  const qb::ExtraOptions o = qb::ParseOptionsFile(
      "[Script]\r\nAllowDirect=maybe\r\nFailover=1\r\n[Endpoint]\nListen=127.0.0.1:99999\n"
      "Policy=random\nTypes= http , ,socks5\nEnabled\n[Other]\nEnabled=1\n[Api]\nListen=8898\n");
  EXPECT_TRUE(o.script.failover);
  EXPECT_FALSE(o.script.allowDirect);
  EXPECT_EQ(o.endpoint.listen, "127.0.0.1:8899");
  EXPECT_EQ(o.endpoint.policy, qb::EndpointPolicy::Failover);
  EXPECT_EQ(o.endpoint.types, (std::vector<std::string>{"HTTP", "SOCKS5"}));
  EXPECT_FALSE(o.endpoint.enabled);
  // An address the API cannot listen on leaves it off, not on some default port.
  EXPECT_EQ(o.api.listen, "");
}

// The choice lives in the new section and under the script's old key, which a version
// before it reads; a file of such a version that let the script go direct has chosen.
TEST(OptionsFile, TheChoiceIsKeptForOlderVersionsAndReadFromTheirFiles) {
  qb::ExtraOptions o;
  o.SetWhenDown(qb::WhenProxyDown::Direct);
  const std::string text = qb::FormatOptionsFile(o);
  EXPECT_NE(text.find("[Script]\nFailover=0\nAllowDirect=1\n"), std::string::npos) << text;
  EXPECT_NE(text.find("[SystemProxy]\nWhenDown=direct\n"), std::string::npos) << text;

  const qb::ExtraOptions old = qb::ParseOptionsFile("[Script]\nFailover=1\nAllowDirect=1\n");
  EXPECT_TRUE(old.systemProxy.chosen);
  EXPECT_EQ(old.WhenDown(), qb::WhenProxyDown::Direct);
  const qb::ExtraOptions untouched = qb::ParseOptionsFile("[Script]\nFailover=1\nAllowDirect=0\n");
  EXPECT_FALSE(untouched.systemProxy.chosen);
  EXPECT_EQ(qb::FormatOptionsFile(untouched).find("WhenDown="), std::string::npos);

  // The new key wins over the old one, in whichever order they stand.
  const qb::ExtraOptions blocked = qb::ParseOptionsFile(
      "[SystemProxy]\nWhenDown=Block\n[Script]\nAllowDirect=1\n[Notify]\nPoolLowBelow=0\n");
  EXPECT_TRUE(blocked.systemProxy.chosen);
  EXPECT_EQ(blocked.WhenDown(), qb::WhenProxyDown::Block);
  EXPECT_FALSE(blocked.script.allowDirect);
  EXPECT_EQ(blocked.notify.poolLowBelow, 3);  // below 1 is no threshold
  const qb::ExtraOptions unknown = qb::ParseOptionsFile("[SystemProxy]\nWhenDown=sometimes\n");
  EXPECT_FALSE(unknown.systemProxy.chosen);
}

TEST(ListenAddress, LoopbackIsToldFromEverythingElse) {
  EXPECT_TRUE(qb::IsLoopbackHost("127.0.0.1"));
  EXPECT_TRUE(qb::IsLoopbackHost("127.255.3.9"));
  EXPECT_TRUE(qb::IsLoopbackHost("::1"));
  EXPECT_TRUE(qb::IsLoopbackHost("LocalHost"));
  for (const char* host :
       {"0.0.0.0", "127.0.0", "127.0.0.1.5", "127.0.0.256", "1127.0.0.1", "127..0.1", "::", "10.0.0.1"})
    EXPECT_FALSE(qb::IsLoopbackHost(host)) << host;

  const auto a = qb::ParseListenAddress(" [::1]:8080 ");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->host, "::1");
  EXPECT_EQ(a->port, 8080);
  for (const char* bad : {"127.0.0.1", ":80", "127.0.0.1:0", "127.0.0.1:65536", "::1:80", "[::1]80", "h:8a"})
    EXPECT_FALSE(qb::ParseListenAddress(bad)) << bad;
}

}  // namespace

TEST(OptionsFile, EndpointHealthKeysRoundTripAndOutOfRangeKeepsTheDefault) {
  // The defaults, and how a file of an older version (no such keys) reads.
  const qb::ExtraOptions old = qb::ParseOptionsFile("[Endpoint]\nEnabled=1\n");
  EXPECT_TRUE(old.endpoint.healthChecks);
  EXPECT_EQ(old.endpoint.checkInterval, 30);
  EXPECT_EQ(old.endpoint.checkTimeout, 10);
  EXPECT_EQ(old.endpoint.lazyAfter, 120);
  EXPECT_EQ(old.endpoint.tolerance, 150);
  EXPECT_EQ(old.endpoint.failuresToSetAside, 3);
  EXPECT_EQ(old.endpoint.setAside, 30);
  EXPECT_EQ(old.endpoint.setAsideMax, 300);
  EXPECT_TRUE(old.endpoint.closeTunnels);

  qb::ExtraOptions o;
  o.endpoint.healthChecks = false;
  o.endpoint.checkInterval = 45;
  o.endpoint.checkTimeout = 7;
  o.endpoint.lazyAfter = 0;
  o.endpoint.tolerance = 0;
  o.endpoint.failuresToSetAside = 5;
  o.endpoint.setAside = 60;
  o.endpoint.setAsideMax = 900;
  o.endpoint.closeTunnels = false;
  EXPECT_EQ(qb::ParseOptionsFile(qb::FormatOptionsFile(o)).endpoint, o.endpoint);

  const qb::ExtraOptions bad = qb::ParseOptionsFile(
      "[Endpoint]\nCheckInterval=0\nCheckTimeout=301\nLazyAfter=-1\nTolerance=x\nFailuresToSetAside=0\n"
      "SetAside=0\nSetAsideMax=86401\n");
  EXPECT_EQ(bad.endpoint, qb::EndpointOptions{});
}

namespace {

TEST(OptionsFile, VerifyTrustKeysRoundTripByHostAndBadPinsAreDropped) {
  qb::ExtraOptions o;
  EXPECT_EQ(qb::FormatOptionsFile(o).find("[Verify]"), std::string::npos) << "no section without a key";
  const std::string pin(64, 'a');
  o.verify.caFiles["check.example"] = "/home/u/ca.pem";
  o.verify.caFiles["[::1]"] = "/etc/own ca.pem";
  o.verify.pins["check.example"] = pin;
  const std::string text = qb::FormatOptionsFile(o);
  EXPECT_EQ(qb::ParseOptionsFile(text), o) << text;

  const qb::ExtraOptions read = qb::ParseOptionsFile(
      "[Verify]\nCaFile.Check.EXAMPLE = /a.pem\nPin.CHECK.example=" + std::string(64, 'B') +
      "\nPin.short=abc\nPin.nothex=" + std::string(64, 'g') + "\nCaFile.empty=\n");
  EXPECT_EQ(read.verify.caFiles, (std::map<std::string, std::string>{{"check.example", "/a.pem"}}));
  EXPECT_EQ(read.verify.pins, (std::map<std::string, std::string>{{"check.example", std::string(64, 'b')}}));
}

}  // namespace
