#include "engine/formats/PngRows.h"

#include <cstdlib>

namespace {

template <int Bytes>
void subtract(std::uint8_t* row, std::size_t bytes) {
    for (std::size_t x = Bytes; x < bytes; ++x) {
        row[x] = static_cast<std::uint8_t>(row[x] + row[x - Bytes]);
    }
}

template <int Bytes>
void average(std::uint8_t* row, const std::uint8_t* above, std::size_t bytes) {
    for (std::size_t x = 0; x < Bytes && x < bytes; ++x) {
        row[x] = static_cast<std::uint8_t>(row[x] + (above[x] >> 1));
    }
    for (std::size_t x = Bytes; x < bytes; ++x) {
        row[x] = static_cast<std::uint8_t>(row[x] + ((row[x - Bytes] + above[x]) >> 1));
    }
}

// Without branches: the predictor's choice is data, and mispredicting it costs more than the
// arithmetic. Ties go to the left, then above, as the format says.
template <int Bytes>
void paeth(std::uint8_t* row, const std::uint8_t* above, std::size_t bytes) {
    for (std::size_t x = 0; x < Bytes && x < bytes; ++x) {
        row[x] = static_cast<std::uint8_t>(row[x] + above[x]);
    }
    for (std::size_t x = Bytes; x < bytes; ++x) {
        const int a = row[x - Bytes];
        const int b = above[x];
        const int c = above[x - Bytes];
        const int pa = std::abs(b - c);
        const int pb = std::abs(a - c);
        const int pc = std::abs(a + b - 2 * c);
        int predicted = pb < pa ? b : a;
        const int least = pb < pa ? pb : pa;
        predicted = pc < least ? c : predicted;
        row[x] = static_cast<std::uint8_t>(row[x] + predicted);
    }
}

template <int Bytes>
bool unfilter(int type, std::uint8_t* row, const std::uint8_t* above, std::size_t bytes) {
    switch (type) {
        case 0:
            return true;
        case 1:
            subtract<Bytes>(row, bytes);
            return true;
        case 2:
            for (std::size_t x = 0; x < bytes; ++x) {
                row[x] = static_cast<std::uint8_t>(row[x] + above[x]);
            }
            return true;
        case 3:
            average<Bytes>(row, above, bytes);
            return true;
        case 4:
            paeth<Bytes>(row, above, bytes);
            return true;
        default:
            return false;
    }
}

}  // namespace

bool UnfilterPngRow(int type, std::uint8_t* row, const std::uint8_t* above, std::size_t bytes,
                    int pixelBytes) {
    switch (pixelBytes) {
        case 1:
            return unfilter<1>(type, row, above, bytes);
        case 2:
            return unfilter<2>(type, row, above, bytes);
        case 3:
            return unfilter<3>(type, row, above, bytes);
        default:
            return unfilter<4>(type, row, above, bytes);
    }
}

void PngRowToBgrx(int colourType, const std::uint8_t* row, std::uint8_t* into, int width) {
    const auto each = [&](auto pixel) {
        for (int x = 0; x < width; ++x) {
            pixel(row, into + 4 * x, x);
        }
    };
    switch (colourType) {
        case 0:
            each([](const std::uint8_t* r, std::uint8_t* o, int x) {
                o[0] = o[1] = o[2] = r[x];
                o[3] = 0;
            });
            break;
        case 2:
            each([](const std::uint8_t* r, std::uint8_t* o, int x) {
                o[0] = r[3 * x + 2];
                o[1] = r[3 * x + 1];
                o[2] = r[3 * x];
                o[3] = 0;
            });
            break;
        case 4:
            each([](const std::uint8_t* r, std::uint8_t* o, int x) {
                o[0] = o[1] = o[2] = r[2 * x];
                o[3] = r[2 * x + 1];
            });
            break;
        default:
            each([](const std::uint8_t* r, std::uint8_t* o, int x) {
                o[0] = r[4 * x + 2];
                o[1] = r[4 * x + 1];
                o[2] = r[4 * x];
                o[3] = r[4 * x + 3];
            });
            break;
    }
}
