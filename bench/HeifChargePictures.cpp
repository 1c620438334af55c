// Writes 12-megapixel HEIC pictures as phones store them, made from one photograph: coded as one
// picture and as a grid of 512 x 512 tiles, at 8 and 10 bits; and prints for each the memory its
// conversion is charged, the file's bytes and what the module charges, in bytes, for
// bench/heif-charge to hold the measured peaks to.
//
//     build/bench/heif_charge_pictures PHOTO OUTDIR
#include "engine/PictureLoader.h"
#include "engine/formats/PictureProbe.h"
#include "support/CameraPictures.h"
#include "support/HeifGrids.h"
#include "support/TestPictures.h"

#include <QCoreApplication>
#include <QDir>

#include <algorithm>
#include <cstdio>

namespace {

void write(const QDir& out, const QByteArray& name, const QByteArray& bytes) {
    WriteBytes(out.filePath(QString::fromLatin1(name)), bytes);
    const PictureProbe probe = ProbePicture(
        {reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size())});
    std::printf(
        "%s %lld %llu\n", name.constData(), static_cast<long long>(bytes.size()),
        static_cast<unsigned long long>(std::uint64_t(bytes.size()) + probe.workingBytes()));
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: heif_charge_pictures PHOTO OUTDIR\n");
        return 2;
    }
    const BgrxImage photo = LoadPicture(QString::fromLocal8Bit(argv[1]));
    const QDir out(QString::fromLocal8Bit(argv[2]));
    const BgrxImage twelve = ScaledPicture(photo, 4000, 3000);
    for (const int bits : {8, 10}) {
        const QByteArray bitsName = QByteArray::number(bits);
        write(out, "single-" + bitsName + ".heic", HeifBytesOf(twelve, false, bits, 1, 85));
        HeifGrid grid;
        grid.columns = 8;
        grid.rows = 6;
        grid.tileWidth = grid.tileHeight = 512;
        grid.width = 4000;
        grid.height = 3000;
        grid.bits = bits;
        grid.quality = 85;
        write(out, "grid-" + bitsName + ".heic", HeifGridBytesOf(twelve, grid));
    }
    return 0;
}
