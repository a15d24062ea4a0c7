// What became of an operation on a data file or on the desktop's settings.
//
// The core never tells the user about a failure itself: it returns one of these, and
// the front end that asked decides how to say it (the window shows the program's own
// message box, the command line names the file on standard error and picks an exit
// code). A value carries the kind of failure, the file involved and the system's own
// words for it, so that neither front end has to guess what went wrong.
#pragma once

#include <string>
#include <utility>

namespace qb {

enum class OpStatus {
  Ok,
  ReadFailed,    // the file exists but could not be read; nothing was changed
  WriteFailed,   // the file could not be written; the old file is as it was
  QueryFailed,   // the desktop's proxy settings could not be read
  ApplyFailed,   // the desktop's proxy settings could not be written
  ListenFailed,  // a local port could not be opened (path: the address)
};

struct OpResult {
  OpStatus status = OpStatus::Ok;
  // The file the operation read or wrote; empty when no file was involved (the
  // desktop's settings).
  std::string path;
  // The system's description of the failure ("Permission denied", "Is a directory"),
  // or what was being done when no file was involved; empty on success.
  std::string error;

  static OpResult Success() { return {}; }
  static OpResult Failure(OpStatus status, std::string path, std::string error) {
    return {status, std::move(path), std::move(error)};
  }

  bool ok() const { return status == OpStatus::Ok; }
  explicit operator bool() const { return ok(); }

  // One English line for logs and the command line, e.g.
  // "cannot write /data/Proxies.pro: Permission denied". Empty on success.
  std::string Describe() const;
};

}  // namespace qb
