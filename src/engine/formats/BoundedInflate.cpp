#include "engine/formats/BoundedInflate.h"

#include <zlib.h>

#include <memory>

std::optional<std::string> InflateAtMost(std::span<const std::uint8_t> compressed,
                                         std::size_t most) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) {
        return std::nullopt;
    }
    const std::unique_ptr<z_stream, int (*)(z_stream*)> owned(&z, &inflateEnd);
    // One byte of room more than allowed tells a stream that is too long from one that fits.
    std::string out(most + 1, '\0');
    z.next_in = const_cast<Bytef*>(compressed.data());
    z.avail_in = static_cast<uInt>(std::min<std::size_t>(compressed.size(), 0xFFFFFFFFu));
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int status = inflate(&z, Z_FINISH);
    if (status != Z_STREAM_END || z.total_out > most) {
        return std::nullopt;
    }
    out.resize(z.total_out);
    return out;
}
