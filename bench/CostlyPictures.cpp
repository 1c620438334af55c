// Writes small files that are costly to convert, for bench/bounds:
//     costly_pictures FOLDER
#include "support/TestPictures.h"

#include <QBuffer>
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
    // Colour refined a bit at a time over the whole band, arithmetic-coded: 34 legal scans.
    write("refining-8192.jpg", RefiningJpegBytes(8192, 8192));
    // Types whose size is not where the first header says: an icon whose directory says 1 x 1
    // over a PNG of 8192 x 8192, an X bitmap and a bitmap of the largest size.
    QByteArray big;
    {
        QImage grey(8192, 8192, QImage::Format_Grayscale8);
        grey.fill(200);
        QBuffer buffer(&big);
        buffer.open(QIODevice::WriteOnly);
        grey.save(&buffer, "png");
    }
    QByteArray icon = QByteArray::fromHex("000001000100010100000100200000000000") +
                      QByteArray::fromHex("16000000");
    for (int k = 0; k < 4; ++k) {
        icon[14 + k] = static_cast<char>(big.size() >> (8 * k));
    }
    write("icon-over-png.ico", icon + big);
    write("declared.xbm", "#define d_width 8192\n#define d_height 8193\n"
                          "static char d_bits[] = {\n0x00, 0xff };\n");
    QByteArray pbm = "P4\n8192 8192\n";
    write("big.pbm", pbm + QByteArray(8192 / 8 * 8192, '\x55'));
    // 16-bit colour at the largest size: half a megabyte that decodes to 8 bytes a pixel.
    QImage deep(8192, 8193, QImage::Format_RGBA64);
    deep.fill(QColor(40, 90, 200));
    QImageWriter(folder.filePath("deep.png"), "png").write(deep);
    // Quarter-turned photos at the largest size, which the bands cannot serve.
    const BgrxImage turned = MakePicture(8192, 8192, [](int x, int y) { return (x ^ y) & 0xFF; });
    write("turned.jpg", JpegBytesOf(turned, 80, 6));
    return 0;
}
