#include "formats/FormatSamples.h"
#include "formats/samples/SampleStructure.h"
#include "support/TestPictures.h"

#include <QBuffer>
#include <QImage>

namespace {

QByteArray pngOf(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

}  // namespace

// PNG: colour, colour with alpha in 16 bits, grey, a palette, and one big enough that its data
// comes in several chunks.
std::vector<ContractSample> PngSamples() {
    QImage alpha = SampleImage(SamplePicture(50, 30, 1), QImage::Format_RGBA64);
    for (int x = 0; x < alpha.width(); ++x) {
        alpha.setPixelColor(x, 3, QColor(10, 20, 30, x * 5));
    }
    std::vector<ContractSample> samples{
        {"colour, 64 x 48", pngOf(SampleImage(SamplePicture(64, 48), QImage::Format_RGB888))},
        {"16-bit colour with alpha, 50 x 30", pngOf(alpha)},
        {"grey, 77 x 31", pngOf(SampleImage(SamplePicture(77, 31, 2), QImage::Format_Grayscale8))},
        {"palette, 40 x 40", pngOf(SampleImage(SamplePicture(40, 40, 3), QImage::Format_Indexed8))},
        {"several data chunks, 300 x 200",
         pngOf(SampleImage(SamplePicture(300, 200, 4), QImage::Format_RGB888))},
    };
    for (ContractSample& s : samples) {
        AddPngStructure(s);
    }
    return samples;
}

std::vector<CostlySample> PngCostlySamples() {
    QImage flat(8192, 8192, QImage::Format_Grayscale8);
    flat.fill(128);
    return {{"flat grey 8192 x 8192", pngOf(flat)}};
}
