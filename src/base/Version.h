// The program's version, from the build.
#pragma once

namespace qb {

#ifndef QUILLBERRY_VERSION
#define QUILLBERRY_VERSION "unknown"
#endif
inline constexpr const char* kVersion = QUILLBERRY_VERSION;

}  // namespace qb
