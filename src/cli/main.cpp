// quillberry-cli: the program's jobs for scripts and terminals.
#include <QCoreApplication>
#include <QFileInfo>
#include <QLocale>
#include <QStringList>

#include <cstdio>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>

#include "base/Language.h"
#include "base/ProgramDir.h"
#include "base/Translate.h"
#include "base/Version.h"
#include "cli/Cli.h"

namespace qb::cli {

std::string ReadStdin() {
  std::string data((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
  return data;
}

void Out(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
}

void Err(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fputc('\n', stderr);
}

void ErrMessage(std::string_view text, std::string_view caption) {
  const std::string shown = qb::TrLines(text).toStdString();
  if (caption.empty()) {
    Err(shown);
  } else {
    Err(qb::TrLines(caption).toStdString() + ": " + shown);
  }
}

std::string Help(const char* text) {
  return qb::TrHelp(text).toStdString();
}

bool WantsHelp(const QStringList& args) {
  return args.contains("--help") || args.contains("-h");
}

int ReportFailure(const std::string& command, const qb::OpResult& result) {
  switch (result.status) {
    case qb::OpStatus::Ok:
      return kExitOk;
    case qb::OpStatus::ReadFailed:
      Err(command + ": " + result.Describe());
      return kExitUnreadable;
    case qb::OpStatus::WriteFailed:
      Err(command + ": " + result.Describe());
      return kExitUnwritable;
    case qb::OpStatus::QueryFailed:
    case qb::OpStatus::ApplyFailed:
    case qb::OpStatus::ListenFailed:
      Err(command + ": " + result.Describe());
      return kExitNotFound;
  }
  return kExitNotFound;
}

}  // namespace qb::cli

namespace {

struct Command {
  const char* name;
  int (*run)(const QStringList&, const std::string&);
  const char* summary;
  // Reads or writes files of the data directory; a --data-dir that names no
  // directory is then a mistake in the command, not an empty directory.
  bool usesDataDir = true;
};

const Command kCommands[] = {
    {"extract", qb::cli::RunExtract,
     QT_TRANSLATE_NOOP("QuillberryHelp", "print the proxies found in a text or web page"), false},
    {"parse", qb::cli::RunParse,
     QT_TRANSLATE_NOOP("QuillberryHelp", "split proxy lines into their five fields"), false},
    {"lookup", qb::cli::RunLookup,
     QT_TRANSLATE_NOOP("QuillberryHelp", "print the location of an IPv4 or IPv6 address")},
    {"settings", qb::cli::RunSettings,
     QT_TRANSLATE_NOOP("QuillberryHelp", "print the settings and verification resources")},
    {"proxy", qb::cli::RunProxy,
     QT_TRANSLATE_NOOP("QuillberryHelp", "get, set or clear the desktop's system proxy")},
    {"verify", qb::cli::RunVerify,
     QT_TRANSLATE_NOOP("QuillberryHelp", "verify the proxies of the list or of a file")},
    {"merge", qb::cli::RunMerge,
     QT_TRANSLATE_NOOP("QuillberryHelp",
                       "merge the outputs of verify runs (shares, resumed runs) into one list")},
    {"history", qb::cli::RunHistory,
     QT_TRANSLATE_NOOP("QuillberryHelp", "print the verification history: uptime, median time, results")},
    {"download", qb::cli::RunDownload,
     QT_TRANSLATE_NOOP("QuillberryHelp", "download proxies from web pages or the ticked sources")},
    {"refresh", qb::cli::RunRefresh,
     QT_TRANSLATE_NOOP("QuillberryHelp",
                       "download the ticked sources, verify the list and thin the history in one run")},
    {"serve", qb::cli::RunServe,
     QT_TRANSLATE_NOOP("QuillberryHelp", "carry connections through the working proxies on a local port")},
    {"judge", qb::cli::RunJudge,
     QT_TRANSLATE_NOOP("QuillberryHelp", "answer requests with the headers and address they came with"),
     false},
};

void Usage(FILE* to) {
  auto put = [to](const char* text) { std::fputs(qb::TrHelp(text).toUtf8().constData(), to); };
  put(QT_TRANSLATE_NOOP("QuillberryHelp",
                        "Usage: quillberry-cli [--data-dir DIR] [--lang zh|en] COMMAND [ARGS...]\n"
                        "       quillberry-cli --help | --version\n"
                        "\n"
                        "Commands:\n"));
  for (const Command& c : kCommands)
    std::fprintf(to, "  %-9s %s\n", c.name, qb::TrHelp(c.summary).toUtf8().constData());
  put(QT_TRANSLATE_NOOP("QuillberryHelp",
                        "\n"
                        "--data-dir DIR  the directory of Proxies.pro, Setting.dat and the other data files\n"
                        "                (default: the program's data directory)\n"
                        "--lang zh|en    the language of the messages that come from the window's texts:\n"
                        "                Chinese or English (default: as for the window); what the\n"
                        "                commands print for other programs never changes with it\n"
                        "Run 'quillberry-cli COMMAND --help' for a command's options.\n"
                        "\n"
                        "Exit status: 0 done; 1 nothing found, a refusal, or the desktop's proxy settings\n"
                        "could not be read or written; 2 bad usage or a file that cannot be read; 3 a data\n"
                        "file could not be written (the old one is kept); 4 the data directory is being\n"
                        "written by the window or another command (nothing was changed).\n"));
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QStringList args = app.arguments();
  args.removeFirst();

  // --data-dir may stand anywhere on the line; the last one counts.
  std::optional<std::string> dataDirOption;
  for (int i = 0; i < args.size(); ++i) {
    if (args[i] == "--data-dir" || args[i].startsWith("--data-dir=")) {
      QString dir;
      if (args[i] == "--data-dir") {
        if (i + 1 >= args.size()) {
          qb::cli::Err("--data-dir needs a directory");
          return qb::cli::kExitUsage;
        }
        dir = args[i + 1];
        args.remove(i, 2);
      } else {
        dir = args[i].mid(QString("--data-dir=").size());
        args.remove(i);
      }
      dataDirOption = dir.toStdString();
      --i;
    }
  }

  // --lang zh|en, like --data-dir anywhere on the line: the language of the messages
  // (machine-readable output never changes with it).
  std::optional<std::string> languageOption;
  for (int i = 0; i < args.size(); ++i) {
    if (args[i] == "--lang") {
      if (i + 1 >= args.size()) {
        qb::cli::Err("quillberry-cli: --lang needs zh or en");
        return qb::cli::kExitUsage;
      }
      languageOption = args[i + 1].toStdString();
      args.remove(i, 2);
      --i;
    } else if (args[i].startsWith("--lang=")) {
      languageOption = args[i].mid(7).toStdString();
      args.remove(i);
      --i;
    }
  }
  // A language the interface does not speak is a mistake on the line, which a script
  // should hear of rather than get the locale's language without a word.
  if (languageOption && !qb::ParseLanguage(*languageOption)) {
    qb::cli::Err("quillberry-cli: --lang " + *languageOption +
                 ": not a language of the interface (use zh or en)");
    return qb::cli::kExitUsage;
  }
  const qb::CLanguageCatalogues catalogues(
      qb::ChooseLanguage(languageOption, qb::LanguageSetting(), QLocale::system().uiLanguages()));

  if (args.isEmpty()) {
    Usage(stderr);
    return qb::cli::kExitUsage;
  }
  const QString name = args.takeFirst();
  if (name == "--help" || name == "-h" || name == "help") {
    Usage(stdout);
    return qb::cli::kExitOk;
  }
  if (name == "--version") {
    std::printf("quillberry-cli %s\n", qb::kVersion);
    return qb::cli::kExitOk;
  }
  for (const Command& c : kCommands) {
    // Decided here, once: every data file of the command is in this directory.
    if (name != c.name) continue;
    std::string why;
    const std::string dataDir = qb::ChooseDataDir(dataDirOption, &why);
    if (dataDir.empty()) {
      qb::cli::Err("quillberry-cli: " + why);
      return qb::cli::kExitUsage;
    }
    // A directory named on the line that is not there is most likely mistyped: making
    // it, or reading it as empty, would hide the mistake. Help needs no directory.
    if (dataDirOption && c.usesDataDir && !qb::cli::WantsHelp(args) &&
        !QFileInfo(QString::fromStdString(dataDir)).isDir()) {
      qb::cli::Err(std::string(c.name) + ": the data directory " + dataDir + " does not exist");
      return qb::cli::kExitUsage;
    }
    return c.run(args, dataDir);
  }
  qb::cli::Err("unknown command: " + name.toStdString());
  Usage(stderr);
  return qb::cli::kExitUsage;
}
