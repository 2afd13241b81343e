#pragma once

#include <QStringList>

namespace cli {
// brindle-cli info [--json] FILE...
int RunInfo(const QStringList &Args);
} // namespace cli
