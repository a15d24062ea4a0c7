// Helpers of the system-proxy tests: environment guards, the outside programs that
// read back what was written (gsettings, libproxy's proxy, node for the scripts),
// and a fixture with its own data directory and message double.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/ScriptedPrompt.h"
#include "support/TempDir.h"
#include "support/TestDataDir.h"

using namespace qb;

namespace sptest {

// Sets (or with nullopt removes) an environment variable for the guard's lifetime.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string m_name;
  std::optional<std::string> m_old;
};

struct ProgramResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};
// Runs a program with extra environment variables (an empty value removes one).
ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& env = {}, const std::string& input = {});

// Whether GIO has the settings back end of that name (e.g. "dconf") on this machine.
bool GioHasSettingsBackend(const char* name);
// The keyfile the keyfile GSettings back end uses under a configuration directory.
std::string KeyfileFor(const std::string& configHome);
// `gsettings get SCHEMA KEY` against that directory's keyfile, without the line break.
std::string GSettingsGet(const std::string& configHome, const std::string& schema, const std::string& key);
// `gsettings set` the same way; true on success.
bool GSettingsSet(const std::string& configHome, const std::string& schema, const std::string& key,
                  const std::string& value);
// What libproxy answers for each URL under the GNOME settings of that directory.
std::vector<std::string> LibproxyFor(const std::string& configHome, const std::vector<std::string>& urls);
// Evaluates a PAC script with node and returns FindProxyForURL's answer per URL.
std::vector<std::string> EvaluatePac(const std::string& scriptPath, const std::vector<std::string>& urls);

// A data directory for the system proxy and a message double, per test.
class SysProxyTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::string PacText() const { return qbtest::ReadFile(data.File("proxy.pac")); }

  qbtest::TempDir data;
  qbtest::ScriptedPrompt prompt;
};

}  // namespace sptest
