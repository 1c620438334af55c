// Writes small files that are costly to convert, for bench/bounds:
//     costly_pictures FOLDER
#include "support/TestPictures.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QImageWriter>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

namespace {

// A grey 8192 x 8193 progressive JPEG whose last coefficient is 512 in every block, so that the
// output is as busy as can be and, arithmetic-coded, each refinement scan decides on every
// coefficient, each decision nearly free in bits. The first AC scan covers coefficients `from`
// to 63, then `refinements` passes over all of them; comments pad the file to `size` bytes,
// which buys the most work a file of that size may ask for.
QByteArray busyJpeg(bool arithmetic, int from, int refinements, long size) {
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* out = nullptr;
    unsigned long written = 0;
    jpeg_mem_dest(&info, &out, &written);
    info.image_width = 8192;
    info.image_height = 8193;
    info.input_components = 1;
    info.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&info);
    const unsigned int ones[64] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
                                   1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
                                   1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    jpeg_add_quant_table(&info, 0, ones, 100, FALSE);
    info.arith_code = arithmetic;
    std::vector<jpeg_scan_info> script{{1, {0}, 0, 0, 0, 0}, {1, {0}, from, 63, 0, 9}};
    for (int al = 8; al > 8 - refinements; --al) {
        script.push_back({1, {0}, 1, 63, al + 1, al});
    }
    info.scan_info = script.data();
    info.num_scans = static_cast<int>(script.size());
    const JDIMENSION wide = (info.image_width + 7) / 8, high = (info.image_height + 7) / 8;
    jvirt_barray_ptr blocks = info.mem->request_virt_barray(reinterpret_cast<j_common_ptr>(&info),
                                                            JPOOL_IMAGE, TRUE, wide, high, 1);
    jpeg_write_coefficients(&info, &blocks);
    for (JDIMENSION row = 0; row < high; ++row) {
        JBLOCKARRAY line = info.mem->access_virt_barray(reinterpret_cast<j_common_ptr>(&info),
                                                        blocks, row, 1, TRUE);
        for (JDIMENSION b = 0; b < wide; ++b) {
            std::fill(line[0][b], line[0][b] + 64, 0);
            line[0][b][63] = 512;
        }
    }
    std::vector<JOCTET> comment(65000, 'c');
    for (long left = size - 4096; left > 0; left -= 65004) {
        jpeg_write_marker(&info, JPEG_COM, comment.data(),
                          static_cast<unsigned>(std::min<long>(left, 65000)));
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    QByteArray bytes(reinterpret_cast<const char*>(out), static_cast<qsizetype>(written));
    std::free(out);
    return bytes;
}

}  // namespace

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
    // The same busy output from the cheapest Huffman-coded file, and from arithmetic-coded ones
    // just under 1 MB: the most work allowed (two passes over every coefficient) and more.
    write("busy-huffman.jpg", busyJpeg(false, 63, 0, 0));
    write("busy-arith-1mb.jpg", busyJpeg(true, 1, 1, 1000 * 1000));
    write("busy-arith-1mb-more.jpg", busyJpeg(true, 1, 9, 1000 * 1000));
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
    write("declared.xbm",
          "#define d_width 8192\n#define d_height 8193\n"
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
