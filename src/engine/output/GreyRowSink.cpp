#include "engine/output/GreyRowSink.h"

#include <cstring>

void GreyImageSink::take(const std::uint8_t* rows, std::ptrdiff_t stride, int count) {
    for (int k = 0; k < count; ++k, ++row) {
        std::memcpy(image.row(row), rows + stride * k, static_cast<std::size_t>(image.width()));
    }
}
