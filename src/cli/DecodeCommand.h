#pragma once

#include <QStringList>

namespace cli {
// brindle-cli decode [-o DIR] [-y] FILE...
int RunDecode(const QStringList &Args);
} // namespace cli
