// GIO before any Qt header: Qt's "signals" macro breaks GIO's headers.
#define G_SETTINGS_ENABLE_BACKEND
#include <gio/gio.h>
#include <gio/gsettingsbackend.h>

#include "SysProxyTestUtil.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

#include <cstdlib>
#include <filesystem>

#include "base/Files.h"
#include "base/Text.h"

using namespace qb;

namespace sptest {

namespace {

// GSettings picks its store once per process, at its first use: before any test runs,
// point it at a keyfile in a directory of our own, so that no test can ever touch the
// desktop settings of the person running them. Nor may a test reach a real session
// bus or take the session for KDE.
struct ProcessEnvironment {
  ProcessEnvironment() {
    char tmpl[] = "/tmp/qb-sysproxy-XXXXXX";
    if (const char* d = ::mkdtemp(tmpl)) dir = d;
    ::setenv("GSETTINGS_BACKEND", "keyfile", 1);
    ::setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    ::unsetenv("XDG_CURRENT_DESKTOP");
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    ::unsetenv("XDG_RUNTIME_DIR");
    // Fixes the store now, whatever a test later does to XDG_CONFIG_HOME.
    g_object_unref(g_settings_backend_get_default());
  }
  ~ProcessEnvironment() {
    std::error_code ec;
    if (!dir.empty()) std::filesystem::remove_all(dir, ec);
  }
  std::string dir;
};
ProcessEnvironment g_environment;

std::string Chomp(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  return s;
}

std::map<std::string, std::string> GnomeEnv(const std::string& configHome) {
  return {{"GSETTINGS_BACKEND", "keyfile"},
          {"XDG_CONFIG_HOME", configHome},
          {"DESKTOP_SESSION", "gnome"},
          {"XDG_CURRENT_DESKTOP", "GNOME"}};
}

// Calls FindProxyForURL the way a browser does, with the helper functions a script
// may use.
constexpr const char* kPacRunner = R"JS(
const vm = require('vm');
const fs = require('fs');
const script = fs.readFileSync(process.argv[2], 'utf8');
const glob = p => new RegExp('^' + p.replace(/[.+^${}()|[\]\\]/g, '\\$&').replace(/\*/g, '.*').replace(/\?/g, '.') + '$');
const sandbox = {
  shExpMatch: (s, p) => glob(p).test(s),
  isPlainHostName: h => h.indexOf('.') < 0,
  dnsDomainIs: (h, d) => h.length >= d.length && h.substring(h.length - d.length) === d,
  localHostOrDomainIs: (h, hd) => h === hd || (h.indexOf('.') < 0 && hd.indexOf(h + '.') === 0),
  dnsDomainLevels: h => h.split('.').length - 1,
  isResolvable: () => false,
  isInNet: () => false,
  dnsResolve: () => null,
  myIpAddress: () => '127.0.0.1',
};
vm.createContext(sandbox);
vm.runInContext(script, sandbox, {filename: 'proxy.pac'});
for (const u of process.argv.slice(3)) {
  console.log(String(sandbox.FindProxyForURL(u, new URL(u).hostname)));
}
)JS";

}  // namespace

ScopedEnv::ScopedEnv(const char* name, std::optional<std::string> value) : m_name(name) {
  if (const char* old = std::getenv(name)) m_old = old;
  if (value) {
    ::setenv(name, value->c_str(), 1);
  } else {
    ::unsetenv(name);
  }
}

ScopedEnv::~ScopedEnv() {
  if (m_old) {
    ::setenv(m_name.c_str(), m_old->c_str(), 1);
  } else {
    ::unsetenv(m_name.c_str());
  }
}

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& env, const std::string& input) {
  QProcess p;
  QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
  for (const auto& [k, v] : env) {
    if (v.empty()) {
      e.remove(QString::fromStdString(k));
    } else {
      e.insert(QString::fromStdString(k), QString::fromStdString(v));
    }
  }
  p.setProcessEnvironment(e);
  QStringList list;
  for (const auto& a : args) list << QString::fromStdString(a);
  p.start(QString::fromStdString(program), list);
  ProgramResult r;
  if (!p.waitForStarted(10000)) return r;
  p.write(input.data(), static_cast<qint64>(input.size()));
  p.closeWriteChannel();
  if (!p.waitForFinished(60000)) {
    p.kill();
    p.waitForFinished();
    return r;
  }
  r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  r.out = p.readAllStandardOutput().toStdString();
  r.err = p.readAllStandardError().toStdString();
  return r;
}

bool GioHasSettingsBackend(const char* name) {
  // The modules are loaded: the store was fixed before any test ran.
  GIOExtensionPoint* point = g_io_extension_point_lookup(G_SETTINGS_BACKEND_EXTENSION_POINT_NAME);
  return point && g_io_extension_point_get_extension_by_name(point, name);
}

std::string KeyfileFor(const std::string& configHome) {
  return qb::JoinPath(configHome, "glib-2.0/settings/keyfile");
}

std::string GSettingsGet(const std::string& configHome, const std::string& schema, const std::string& key) {
  const ProgramResult r = RunProgram("gsettings", {"get", schema, key}, GnomeEnv(configHome));
  return r.exitCode == 0 ? Chomp(r.out) : "<gsettings failed: " + r.err + ">";
}

bool GSettingsSet(const std::string& configHome, const std::string& schema, const std::string& key,
                  const std::string& value) {
  return RunProgram("gsettings", {"set", schema, key, value}, GnomeEnv(configHome)).exitCode == 0;
}

std::vector<std::string> LibproxyFor(const std::string& configHome, const std::vector<std::string>& urls) {
  std::string input;
  for (const auto& u : urls) input += u + "\n";
  // In a network namespace of its own: libproxy may look the URLs' host names up to
  // match them against the ignored hosts, and no test may ask a real resolver.
  const ProgramResult r =
      RunProgram("unshare", {"--map-root-user", "--net", "proxy"}, GnomeEnv(configHome), input);
  std::vector<std::string> out;
  qb::ForEachLine(r.out, [&](std::string_view line) { out.emplace_back(line); });
  return out;
}

std::vector<std::string> EvaluatePac(const std::string& scriptPath, const std::vector<std::string>& urls) {
  qbtest::TempDir dir;
  const std::string runner = dir.File("pac-runner.js");
  qbtest::WriteFile(runner, kPacRunner);
  std::vector<std::string> args = {runner, scriptPath};
  args.insert(args.end(), urls.begin(), urls.end());
  const ProgramResult r = RunProgram("node", args);
  std::vector<std::string> out;
  if (r.exitCode != 0) {
    out.push_back("<node failed: " + r.err + ">");
    return out;
  }
  qb::ForEachLine(r.out, [&](std::string_view line) { out.emplace_back(line); });
  return out;
}

void SysProxyTest::SetUp() {}

void SysProxyTest::TearDown() {}

}  // namespace sptest
