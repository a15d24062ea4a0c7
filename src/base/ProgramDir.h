// Where the program keeps its data files.
#pragma once

#include <string>

// The data directory, ending in "/": the directory given with --data-dir when one was
// set; otherwise the executable's directory when it is writable (portable use and the
// build tree); otherwise $XDG_DATA_HOME/Quillberry/ (created on first use).
std::string ProgramDir();

// Overrides ProgramDir() for the rest of the process (an empty text removes the
// override). A missing trailing "/" is added.
void SetProgramDir(const std::string& dir);

// The full path of the running executable.
std::string ExecutablePath();
