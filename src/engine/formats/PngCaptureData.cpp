#include "engine/formats/PngCaptureData.h"

#include "engine/formats/BoundedInflate.h"
#include "engine/formats/ByteReading.h"

#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace {

using namespace bytes;
using Bytes = std::span<const std::uint8_t>;

// A raw profile's hex of an Exif block is a little over twice its size, in lines.
constexpr std::size_t kMostProfileText = 3 * kMostCarriedExif;

std::string_view textOf(Bytes b) {
    return {reinterpret_cast<const char*>(b.data()), b.size()};
}

// The text of a tEXt, zTXt or iTXt chunk's `data` after its keyword's zero at `zero`, and whether
// it is compressed; nothing when the chunk is malformed.
std::optional<std::pair<Bytes, bool>> textField(std::string_view type, Bytes data,
                                                std::size_t zero) {
    Bytes rest = data.subspan(zero + 1);
    if (type == "tEXt") {
        return std::pair(rest, false);
    }
    if (type == "zTXt") {
        return rest.empty() || rest[0] != 0 ? std::nullopt
                                            : std::optional(std::pair(rest.subspan(1), true));
    }
    // iTXt: the compression flag and method, a language and a translated keyword, each ended by
    // a zero, then the text.
    if (rest.size() < 2) {
        return std::nullopt;
    }
    const bool compressed = rest[0] != 0;
    rest = rest.subspan(2);
    for (int field = 0; field < 2; ++field) {
        const auto* end =
            static_cast<const std::uint8_t*>(std::memchr(rest.data(), 0, rest.size()));
        if (end == nullptr) {
            return std::nullopt;
        }
        rest = rest.subspan(std::size_t(end - rest.data()) + 1);
    }
    return std::pair(rest, compressed);
}

// The text itself, inflated when compressed up to `most` bytes; nothing when it is more, or
// damaged, and `why` says which.
std::optional<std::string> textOf(std::string_view type, Bytes data, std::size_t zero,
                                  std::size_t most, const char* what, std::string& why) {
    const auto field = textField(type, data, zero);
    if (!field) {
        why = std::string("its ") + what + " chunk is malformed";
        return std::nullopt;
    }
    const auto& [text, compressed] = *field;
    if (!compressed) {
        if (text.size() > most) {
            why = std::string("its ") + what + " is too large to carry (" +
                  std::to_string(text.size()) + " bytes)";
            return std::nullopt;
        }
        return std::string(textOf(text));
    }
    auto inflated = InflateAtMost(text, most);
    if (!inflated) {
        why = std::string("its ") + what +
              " chunk is damaged or inflates to more than an output carries";
    }
    return inflated;
}

// A raw profile: "\n<name>\n<spaces><length>\n" and the bytes in hex, broken into lines.
std::optional<std::string> profileBytes(std::string_view text) {
    std::size_t at = text.find('\n', 1);
    if (text.empty() || text[0] != '\n' || at == std::string_view::npos) {
        return std::nullopt;
    }
    at = text.find_first_not_of(' ', at + 1);
    std::size_t length = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && length <= kMostExifRead) {
        length = length * 10 + std::size_t(text[at++] - '0');
    }
    if (length > kMostExifRead) {
        return std::nullopt;
    }
    std::string out;
    out.reserve(length);
    int high = -1;
    for (; at < text.size() && out.size() < length; ++at) {
        const char c = text[at];
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
        if (digit < 0) {
            if (c != '\n' && c != ' ' && c != '\r') {
                return std::nullopt;
            }
            continue;
        }
        if (high < 0) {
            high = digit;
        } else {
            out += char(high << 4 | digit);
            high = -1;
        }
    }
    if (out.size() != length) {
        return std::nullopt;
    }
    return out;
}

std::string_view withoutExifName(std::string_view exif) {
    return exif.starts_with(std::string_view("Exif\0\0", 6)) ? exif.substr(6) : exif;
}

}  // namespace

CaptureData PngCaptureData(Bytes b, int width, int height) {
    std::string exif;
    std::string xmp;
    std::string unread;
    const auto cannotRead = [&](const std::string& why) {
        unread += (unread.empty() ? "" : "; ") + why;
    };
    for (std::size_t at = 8; at + 12 <= b.size();) {
        const std::size_t length = be32(b, at);
        if (length > b.size() - at - 12) {
            break;
        }
        const std::string_view type = textOf(b.subspan(at + 4, 4));
        const Bytes data = b.subspan(at + 8, length);
        at += 12 + length;
        if (type == "IEND") {
            break;
        }
        if (type == "eXIf" && exif.empty()) {
            exif = withoutExifName(textOf(data));
            continue;
        }
        if (type != "tEXt" && type != "zTXt" && type != "iTXt") {
            continue;
        }
        const auto* zero =
            static_cast<const std::uint8_t*>(std::memchr(data.data(), 0, data.size()));
        if (zero == nullptr) {
            continue;
        }
        const std::size_t keywordLength = std::size_t(zero - data.data());
        const std::string_view keyword = textOf(data.first(keywordLength));
        std::string why;
        if (keyword == "XML:com.adobe.xmp" && xmp.empty()) {
            const auto text = textOf(type, data, keywordLength, kMostCarriedXmp, "XMP", why);
            text ? void(xmp = *text) : cannotRead(why);
        } else if ((keyword == "Raw profile type exif" || keyword == "Raw profile type APP1") &&
                   exif.empty()) {
            const auto text = textOf(type, data, keywordLength, kMostProfileText, "Exif", why);
            const auto profile = text ? profileBytes(*text) : std::nullopt;
            profile ? void(exif = withoutExifName(*profile))
                    : cannotRead(text ? "its Exif profile is malformed" : why);
        } else if (keyword == "Raw profile type xmp" && xmp.empty()) {
            const auto text = textOf(type, data, keywordLength, kMostProfileText, "XMP", why);
            const auto profile = text ? profileBytes(*text) : std::nullopt;
            profile ? void(xmp = *profile)
                    : cannotRead(text ? "its XMP profile is malformed" : why);
        }
    }
    CaptureData data = CaptureDataOf(
        {reinterpret_cast<const std::uint8_t*>(exif.data()), exif.size()}, xmp, width, height);
    if (!unread.empty()) {
        data.leftOut += (data.leftOut.empty() ? "" : "; ") + unread;
    }
    return data;
}
