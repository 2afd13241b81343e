#pragma once

#include <QStringList>

namespace cli {
// brindle-cli encode [options] FILE...
int RunEncode(const QStringList &Args);
} // namespace cli
