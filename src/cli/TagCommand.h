#pragma once

#include <QStringList>

namespace cli {
// brindle-cli tag FILE [--title T] [--artist A] [--album A] [--year Y] [--comment C]
//                      [--track N] [--genre NAME|CODE] [--remove]
int RunTag(const QStringList &Args);
} // namespace cli
