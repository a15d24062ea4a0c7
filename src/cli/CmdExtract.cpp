#include "cli/Cli.h"

namespace cli {
// Placeholder until the extractor lands.
int RunExtract(const QStringList&) { return kExitUsage; }
}  // namespace cli
