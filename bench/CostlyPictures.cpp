// Writes small files that are costly to convert, for bench/bounds:
//     costly_pictures FOLDER
#include "support/TestPictures.h"

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QImageWriter>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: costly_pictures FOLDER\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    const auto write = [&](const char* name, const QByteArray& bytes) {
        WriteBytes(folder.filePath(QString::fromLatin1(name)), bytes);
    };
    // Refinement scans of a big picture: each one walks every block.
    write("scans-496.jpg", ManyScanJpegBytes(8192, 8192, 496));
    write("scans-100.jpg", ManyScanJpegBytes(8192, 8192, 100));
    write("scans-60-small.jpg", ManyScanJpegBytes(1024, 1024, 60));
    // 16-bit colour at the largest size: half a megabyte that decodes to 8 bytes a pixel.
    QImage deep(8192, 8193, QImage::Format_RGBA64);
    deep.fill(QColor(40, 90, 200));
    QImageWriter(folder.filePath("deep.png"), "png").write(deep);
    // Quarter-turned photos at the largest size, which the bands cannot serve.
    const BgrxImage turned = MakePicture(8192, 8192, [](int x, int y) { return (x ^ y) & 0xFF; });
    write("turned.jpg", JpegBytesOf(turned, 80, 6));
    return 0;
}
