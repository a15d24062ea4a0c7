#include "cli/Cli.h"

namespace cli {
// Placeholder until the location lookup lands.
int RunLookup(const QStringList&) { return kExitUsage; }
}  // namespace cli
