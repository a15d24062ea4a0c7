// Temporary directories and small file helpers for tests.
#pragma once

#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <string>

namespace qbtest {

class TempDir {
 public:
  TempDir() { m_dir.setAutoRemove(true); }
  // The directory path with a trailing "/".
  std::string Path() const { return m_dir.path().toStdString() + "/"; }
  std::string File(const std::string& name) const { return Path() + name; }

 private:
  QTemporaryDir m_dir;
};

// Writes bytes to a file (not atomically: tests also need to make odd files).
void WriteFile(const std::string& path, const std::string& bytes);
// The file's bytes, or "<missing>" when it cannot be read.
std::string ReadFile(const std::string& path);

// Runs quillberry-cli with arguments and standard input; returns its exit code and
// fills its standard output and error.
struct CliResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};
CliResult RunCli(const std::vector<std::string>& args, const std::string& input = {});
// The same, in the given environment.
CliResult RunCli(const std::vector<std::string>& args, const std::string& input,
                 const QProcessEnvironment& env);

}  // namespace qbtest
