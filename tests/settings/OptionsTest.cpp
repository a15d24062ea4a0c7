#include <gtest/gtest.h>

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
  EXPECT_FALSE(loaded.endpoint.enabled);
  EXPECT_EQ(loaded.endpoint.listen, "127.0.0.1:8899");

  qb::ExtraOptions o;
  o.script = {true, true};
  o.endpoint.enabled = true;
  o.endpoint.listen = "[::1]:3128";
  o.endpoint.policy = qb::EndpointPolicy::RoundRobin;
  o.endpoint.types = {"HTTP", "SOCKS5"};
  ASSERT_TRUE(qbtest::SaveOptionsIn(dir.Path(), o).ok());
  loaded = qbtest::LoadOptionsFrom(dir.Path(), &result);
  ASSERT_TRUE(result.ok());
  EXPECT_EQ(loaded, o);
}

TEST(OptionsFile, WhatDoesNotParseKeepsItsDefault) {
  const qb::ExtraOptions o = qb::ParseOptionsFile(
      "[Script]\r\nAllowDirect=maybe\r\nFailover=1\r\n[Endpoint]\nListen=127.0.0.1:99999\n"
      "Policy=random\nTypes= http , ,socks5\nEnabled\n[Other]\nEnabled=1\n");
  EXPECT_TRUE(o.script.failover);
  EXPECT_FALSE(o.script.allowDirect);
  EXPECT_EQ(o.endpoint.listen, "127.0.0.1:8899");
  EXPECT_EQ(o.endpoint.policy, qb::EndpointPolicy::Failover);
  EXPECT_EQ(o.endpoint.types, (std::vector<std::string>{"HTTP", "SOCKS5"}));
  EXPECT_FALSE(o.endpoint.enabled);
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
