// Prints WIDTHxHEIGHT of each picture file named, one a line, and fails on the first that the
// program cannot load: for the desktop and fault tests.
#include "base/RuntimeError.h"
#include "engine/PictureLoader.h"

#include <QGuiApplication>

#include <cstdio>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    for (int i = 1; i < argc; ++i) {
        try {
            const BgrxImage p = LoadPicture(QString::fromLocal8Bit(argv[i]));
            std::printf("%dx%d\n", p.width(), p.height());
        } catch (const RuntimeError& e) {
            std::fprintf(stderr, "%s\n", e.description().c_str());
            return 1;
        }
    }
    return argc > 1 ? 0 : 2;
}
