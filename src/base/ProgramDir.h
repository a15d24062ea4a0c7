// Where the program keeps its data files.
//
// The data directory is decided once, by the entry points (the window's and the
// command line's main), and handed to everything that reads or writes a data file.
// Nothing below them asks for it again, so that a directory given with --data-dir is
// the only one a run touches.
#pragma once

#include <optional>
#include <string>

namespace qb {

// Where an installed program keeps its shared files (the help document), relative to
// the installation prefix; its presence beside bin/ marks an installed program.
inline constexpr const char* kInstalledShareDir = "share/quillberry";

// The default data directory, ending in "/": the executable's directory when it is
// writable and not an installed program's (portable use and the build tree); otherwise
// $XDG_DATA_HOME/Quillberry/ or
// ~/.local/share/Quillberry/, a directory of this user with mode 0700 (created on
// first use, tightened when it was looser). Empty, with the reason in *why, when the
// user has no home or that directory belongs to someone else: the data never falls
// back to a shared place.
std::string ProgramDir(std::string* why = nullptr);
// The same for a program in exeDir.
std::string ProgramDirFor(const std::string& exeDir, std::string* why = nullptr);
// The second choice of ProgramDir alone: the user's own data directory, with the same
// rules.
std::string UserDataDir(std::string* why = nullptr);

// The data directory of a run: the --data-dir value with a trailing "/" when the
// option was given with a directory, otherwise ProgramDir() (empty when there is
// none; *why says why).
std::string ChooseDataDir(const std::optional<std::string>& option, std::string* why = nullptr);

// Whether dir is the default data directory (the same directory, however spelled).
// Knowledge that belongs to one list (its favourite marks, how to start it again)
// stays in the user's documented places only for this directory.
bool IsDefaultDataDir(const std::string& dir);

// The absolute form of a data directory, ending in "/".
std::string AbsoluteDataDir(const std::string& dir);

// The full path of the running executable.
std::string ExecutablePath();

}  // namespace qb
