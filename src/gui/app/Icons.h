#pragma once

#include <QIcon>
#include <QImage>

// Pictures of the program, drawn at run time so that nothing is taken from elsewhere.

enum class TToolIcon { Add, AddFolder, Delete, Browse, Convert, Play, Info, Options };

// The program's icon at Size × Size pixels, the same drawing as resources/brindle.svg.
QImage AppIconImage(int Size);
QIcon AppIcon();
// A 32 × 32 toolbar picture.
QIcon ToolIcon(TToolIcon Kind);
