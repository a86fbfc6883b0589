// ondalux-icons FOLDER: writes the program's own icon, as the program draws
// it, into FOLDER/NxN/apps/ondalux.png for each size of a desktop's icon
// theme. Runs on Qt's offscreen platform; exits 1 when a file cannot be
// written.
#include <QDir>
#include <QGuiApplication>
#include <QIcon>
#include <QPixmap>
#include <cstdio>

#include "program_icon.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: ondalux-icons FOLDER\n");
        return 2;
    }
    QGuiApplication application(argc, argv);
    const QString folder = QString::fromLocal8Bit(argv[1]);
    for (const int size : {16, 32, 48, 64, 128, 256}) {
        const QString sized = QString("%1/%2x%2/apps").arg(folder).arg(size);
        const QPixmap picture = ProgramIcon(size);
        if (!QDir().mkpath(sized) || picture.width() != size || !picture.save(sized + "/ondalux.png", "PNG")) {
            std::fprintf(stderr, "ondalux-icons: cannot write %s/ondalux.png\n", qPrintable(sized));
            return 1;
        }
    }
    return 0;
}
