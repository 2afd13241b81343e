#include "app/Icons.h"

#include <QDir>
#include <QGuiApplication>
#include <cstdio>

// Build helper: renders the program icon as PNG files in the icon theme layout,
// <folder>/hicolor/<n>x<n>/apps/brindle.png, for installation beside the SVG.
int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT-FOLDER\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication App(argc, argv);
    const QDir Out(QString::fromLocal8Bit(argv[1]));
    for (int Size : {16, 24, 32, 48, 64, 128, 256}) {
        const QString Folder = QStringLiteral("hicolor/%1x%1/apps").arg(Size);
        if (!Out.mkpath(Folder) ||
            !AppIconImage(Size).save(Out.filePath(Folder + QStringLiteral("/brindle.png")))) {
            std::fprintf(stderr, "cannot write the %dx%d icon\n", Size, Size);
            return 1;
        }
    }
    return 0;
}
