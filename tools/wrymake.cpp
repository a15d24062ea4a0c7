// wrymake: builds the "wry.dll" location data file from a CSV of address ranges.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/Files.h"
#include "proxy/IpLocationWriter.h"

using namespace qb;

namespace {

constexpr int kExitOk = 0;
constexpr int kExitError = 2;

void Usage(FILE* to) {
  std::fputs(
      "Usage: wrymake INPUT.csv OUTPUT\n"
      "\n"
      "Builds an IP location data file (the program reads it as \"wry.dll\" in its data\n"
      "directory) from a CSV file, one address range a line:\n"
      "\n"
      "  first,last,country,area[,extra]\n"
      "\n"
      "first and last are dotted IPv4 addresses. Texts are UTF-8 (GB18030 is accepted\n"
      "too) and are stored in GB18030, cut to 13, 46 and 11 bytes. Fields may be quoted\n"
      "with double quotes. Empty lines and lines starting with '#' are skipped. Ranges\n"
      "may come in any order but must not overlap. INPUT may be '-' for standard input.\n"
      "\n"
      "Exit status: 0 written, 2 bad usage, bad input or the output could not be written.\n",
      to);
}

bool ReadInput(const std::string& path, std::string& text) {
  if (path != "-") {
    auto data = qb::ReadWholeFile(path);
    if (!data) return false;
    text = std::move(*data);
    return true;
  }
  char buf[1 << 16];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, stdin)) > 0) text.append(buf, n);
  return !std::ferror(stdin);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  for (const std::string& a : args) {
    if (a == "--help" || a == "-h") {
      Usage(stdout);
      return kExitOk;
    }
  }
  if (args.size() != 2) {
    Usage(stderr);
    return kExitError;
  }

  std::string text;
  if (!ReadInput(args[0], text)) {
    std::fprintf(stderr, "wrymake: cannot read %s\n", args[0].c_str());
    return kExitError;
  }
  std::vector<IpLocationRange> ranges;
  std::string error;
  if (!qb::ParseIpLocationCsv(text, ranges, error)) {
    std::fprintf(stderr, "wrymake: %s: %s\n", args[0].c_str(), error.c_str());
    return kExitError;
  }
  std::string bytes;
  if (!qb::BuildIpLocationFile(std::move(ranges), bytes, error)) {
    std::fprintf(stderr, "wrymake: %s: %s\n", args[0].c_str(), error.c_str());
    return kExitError;
  }
  if (!qb::WriteFileAtomically(args[1], bytes)) {
    std::fprintf(stderr, "wrymake: cannot write %s\n", args[1].c_str());
    return kExitError;
  }
  return kExitOk;
}
