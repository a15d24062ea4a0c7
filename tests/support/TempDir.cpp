#include "support/TempDir.h"

#include <map>
#include <memory>

#include "support/TestDataDir.h"

#include <QProcess>
#include <QStringList>

#include <cstdio>
#include <cstdlib>

#include "base/Files.h"

using namespace qb;

namespace qbtest {

void WriteFile(const std::string& path, const std::string& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

std::string ReadFile(const std::string& path) {
  auto data = qb::ReadWholeFile(path);
  return data ? *data : std::string("<missing>");
}

CliResult RunCli(const std::vector<std::string>& args, const std::string& input) {
  return RunCli(args, input, QProcessEnvironment::systemEnvironment());
}

CliResult RunCli(const std::vector<std::string>& args, const std::string& input,
                 const QProcessEnvironment& env) {
  const char* cli = std::getenv("QB_CLI");
  const QString program = cli ? QString::fromLocal8Bit(cli) : QString(QB_BINARY_DIR "/quillberry-cli");
  QStringList list;
  for (const auto& a : args) list << QString::fromStdString(a);
  QProcess p;
  p.setProcessEnvironment(env);
  p.start(program, list);
  CliResult r;
  if (!p.waitForStarted(10000)) return r;
  p.write(input.data(), static_cast<qint64>(input.size()));
  p.closeWriteChannel();
  p.waitForFinished(120000);
  r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  r.out = p.readAllStandardOutput().toStdString();
  r.err = p.readAllStandardError().toStdString();
  return r;
}

}  // namespace qbtest

namespace qbtest {

qb::DataDir& KeptTestDir(const std::string& dataDir) {
  static std::map<std::string, std::unique_ptr<qb::DataDir>> kept;
  std::unique_ptr<qb::DataDir>& dir = kept[dataDir];
  if (!dir) dir = OpenTestDir(dataDir);
  return *dir;
}

}  // namespace qbtest
