// Writes the pictures the camera benchmark decodes, made from one photograph by the formats'
// own encoders: a 12-megapixel HEIC, AVIF and JPEG XL (4608 × 2592) and a 24-megapixel DNG
// (6000 × 4000, 12 bits) plain and in lossless JPEG tiles as cameras write it, the photograph
// scaled to those sizes.
//
//     build/bench/camera_pictures PHOTO OUTDIR
#include "support/CameraPictures.h"
#include "engine/PictureLoader.h"
#include "support/TestPictures.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: camera_pictures PHOTO OUTDIR\n");
        return 2;
    }
    const BgrxImage photo = LoadPicture(QString::fromLocal8Bit(argv[1]));
    const QDir out(QString::fromLocal8Bit(argv[2]));
    const BgrxImage twelve = ScaledPicture(photo, 4608, 2592);
    WriteBytes(out.filePath("photo12.heic"), HeifBytesOf(twelve, false, 8, 1, 85));
    WriteBytes(out.filePath("photo12.avif"), HeifBytesOf(twelve, true, 8, 1, 85));
    WriteBytes(out.filePath("photo12.jxl"), JxlBytesOf(twelve, false, 8, 1));
    const BgrxImage twentyFour = ScaledPicture(photo, 6000, 4000);
    WriteBytes(out.filePath("photo24.dng"), DngBytesOf(twentyFour, 12, 1));
    DngLayout lossless;
    lossless.losslessJpeg = true;
    lossless.bitsPerSample = 12;
    lossless.tile = 256;
    lossless.jpegComponents = 2;
    lossless.preview = true;
    WriteBytes(out.filePath("photo24-lossless.dng"), DngBytesOf(twentyFour, lossless, 12, 1));
    return 0;
}
