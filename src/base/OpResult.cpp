#include "base/OpResult.h"

namespace qb {

std::string OpResult::Describe() const {
  std::string what;
  switch (status) {
    case OpStatus::Ok:
      return {};
    case OpStatus::ReadFailed:
      what = "cannot read";
      break;
    case OpStatus::WriteFailed:
      what = "cannot write";
      break;
    case OpStatus::QueryFailed:
      what = "cannot read the desktop's proxy settings";
      break;
    case OpStatus::ApplyFailed:
      what = "cannot write the desktop's proxy settings";
      break;
    case OpStatus::ListenFailed:
      what = "cannot listen on";
      break;
  }
  if (!path.empty()) what += " " + path;
  if (!error.empty()) what += ": " + error;
  return what;
}

}  // namespace qb
