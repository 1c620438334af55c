// Writes COUNT small JPEGs into FOLDER as a camera would: 100CAM/IMG_0001.jpg … then 101CAM with
// its numbering started again, 50 a folder, each picture different; 320 × 240 unless a size is
// given.
//
//     make_pictures FOLDER COUNT [WIDTHxHEIGHT]
#include "support/TestPictures.h"

#include <QDir>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    int width = 320;
    int height = 240;
    if ((argc != 3 && argc != 4) ||
        (argc == 4 && std::sscanf(argv[3], "%dx%d", &width, &height) != 2)) {
        std::fprintf(stderr, "usage: make_pictures FOLDER COUNT [WIDTHxHEIGHT]\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const int count = std::atoi(argv[2]);
    for (int i = 0; i < count; ++i) {
        const QString camera = QString("%1/%2CAM").arg(folder).arg(100 + i / 50);
        QDir().mkpath(camera);
        const auto seed = static_cast<quint32>(i) * 2654435761u;
        WriteBytes(QString("%1/IMG_%2.jpg").arg(camera).arg(i % 50 + 1, 4, 10, QChar('0')),
                   JpegBytesOf(MakePicture(width, height, [seed](int x, int y) {
                       return (static_cast<quint32>(x * 31 + y * 17) ^ seed) & 0xFFFFFF;
                   })));
    }
    std::printf("%d pictures in %s\n", count, argv[1]);
    return 0;
}
