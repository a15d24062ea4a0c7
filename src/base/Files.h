// Whole-file reading and atomic writing of the program's data files.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qb {

// Reads a whole file. nullopt when it cannot be opened or read.
std::optional<std::string> ReadWholeFile(const std::string& path);

bool FileExists(const std::string& path);

// Writes content to path atomically: a temporary file in the same directory is
// written, flushed and checked, then renamed over the old file. On any failure the
// old file is left as it was and false is returned.
bool WriteFileAtomically(const std::string& path, std::string_view content);

// Joins a directory that ends in "/" (or is empty) with a file name.
std::string JoinPath(const std::string& dir, std::string_view name);

}  // namespace qb
