// Prints WIDTHxHEIGHT of a picture file the program can load, or fails: for the desktop test.
#include "convert/PictureLoader.h"
#include "shell/RuntimeError.h"

#include <QGuiApplication>

#include <cstdio>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        return 2;
    }
    try {
        const BgrxImage p = LoadPicture(QString::fromLocal8Bit(argv[1]));
        std::printf("%dx%d\n", p.width(), p.height());
        return 0;
    } catch (const RuntimeError& e) {
        std::fprintf(stderr, "%s\n", e.description().c_str());
        return 1;
    }
}
