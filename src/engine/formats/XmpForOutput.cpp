#include "engine/formats/XmpForOutput.h"

#include "base/RuntimeError.h"

#include <algorithm>
#include <tuple>
#include <vector>

namespace {

constexpr std::string_view kRdf = "http://www.w3.org/1999/02/22-rdf-syntax-ns#";
constexpr std::string_view kTiff = "http://ns.adobe.com/tiff/1.0/";
constexpr std::string_view kExif = "http://ns.adobe.com/exif/1.0/";

bool validUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const std::size_t more = c < 0x80                ? 0
                                 : c >= 0xC2 && c < 0xE0 ? 1
                                 : c >= 0xE0 && c < 0xF0 ? 2
                                 : c >= 0xF0 && c < 0xF5 ? 3
                                                         : 4;
        if (c == 0 || more == 4 || i + more >= s.size()) {
            return false;
        }
        for (std::size_t k = 1; k <= more; ++k) {
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) {
                return false;
            }
        }
        i += more + 1;
    }
    return true;
}

bool nameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-' || c == '.' || c == ':' || static_cast<unsigned char>(c) >= 0x80;
}

bool space(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The prefixes the packet binds to `uri` (xmlns:p="uri").
std::vector<std::string_view> prefixesOf(std::string_view p, std::string_view uri) {
    std::vector<std::string_view> prefixes;
    for (std::size_t at = p.find("xmlns:"); at != std::string_view::npos;
         at = p.find("xmlns:", at + 6)) {
        const std::size_t name = at + 6;
        std::size_t end = name;
        while (end < p.size() && nameChar(p[end]) && p[end] != ':') {
            ++end;
        }
        std::size_t q = end;
        while (q < p.size() && (space(p[q]) || p[q] == '=')) {
            ++q;
        }
        if (q >= p.size() || (p[q] != '"' && p[q] != '\'') || end == name) {
            continue;
        }
        const std::size_t close = p.find(p[q], q + 1);
        if (close != std::string_view::npos && p.substr(q + 1, close - q - 1) == uri) {
            prefixes.push_back(p.substr(name, end - name));
        }
    }
    return prefixes;
}

// Replacements of [first, second) by the text.
using Edit = std::tuple<std::size_t, std::size_t, std::string>;

// The places where `qualified` (prefix:name) is given a simple value: as an attribute, the text
// between its quotes; as an element, the text before its end tag.
void valuesOf(std::string_view p, const std::string& qualified, const std::string& value,
              std::vector<Edit>& edits) {
    for (std::size_t at = p.find(qualified); at != std::string_view::npos;
         at = p.find(qualified, at + 1)) {
        const std::size_t after = at + qualified.size();
        if (at == 0 || after >= p.size() || nameChar(p[after])) {
            continue;
        }
        if (space(p[at - 1])) {
            std::size_t q = after;
            while (q < p.size() && space(p[q])) {
                ++q;
            }
            if (q >= p.size() || p[q] != '=') {
                continue;
            }
            ++q;
            while (q < p.size() && space(p[q])) {
                ++q;
            }
            if (q >= p.size() || (p[q] != '"' && p[q] != '\'')) {
                continue;
            }
            const std::size_t close = p.find(p[q], q + 1);
            if (close != std::string_view::npos) {
                edits.emplace_back(q + 1, close, value);
            }
        } else if (p[at - 1] == '<' && p[after] == '>') {
            const std::size_t text = after + 1;
            const std::size_t end = p.find('<', text);
            if (end != std::string_view::npos &&
                p.substr(end, qualified.size() + 3) == "</" + qualified + ">") {
                edits.emplace_back(text, end, value);
            }
        }
    }
}

}  // namespace

std::string XmpForOutput(std::string_view packet, std::uint32_t width, std::uint32_t height) {
    if (!validUtf8(packet)) {
        throw RuntimeError(ErrorNumber::InvalidPicture, "its XMP is not UTF-8 text");
    }
    if (packet.find(kRdf) == std::string_view::npos ||
        packet.find("RDF") == std::string_view::npos) {
        throw RuntimeError(ErrorNumber::InvalidPicture, "its XMP holds no RDF description");
    }
    const std::string w = std::to_string(width);
    const std::string h = std::to_string(height);
    const std::pair<std::string_view, std::string> tiffFields[] = {
        {"Orientation", "1"}, {"ImageWidth", w}, {"ImageLength", h}};
    const std::pair<std::string_view, std::string> exifFields[] = {{"PixelXDimension", w},
                                                                   {"PixelYDimension", h}};
    std::vector<Edit> edits;
    for (const std::string_view prefix : prefixesOf(packet, kTiff)) {
        for (const auto& [name, value] : tiffFields) {
            valuesOf(packet, std::string(prefix) + ':' + std::string(name), value, edits);
        }
    }
    for (const std::string_view prefix : prefixesOf(packet, kExif)) {
        for (const auto& [name, value] : exifFields) {
            valuesOf(packet, std::string(prefix) + ':' + std::string(name), value, edits);
        }
    }
    // The padding a writer leaves for editing in place.
    std::size_t end = packet.size();
    const std::size_t marker = packet.rfind("<?xpacket end=");
    if (marker != std::string_view::npos) {
        std::size_t padding = marker;
        while (padding > 0 && space(packet[padding - 1])) {
            --padding;
        }
        edits.emplace_back(padding, marker, "\n");
    }
    std::sort(edits.begin(), edits.end());
    std::string out;
    out.reserve(packet.size());
    std::size_t at = 0;
    for (const auto& [from, to, text] : edits) {
        if (from < at) {
            continue;  // overlapping: the first holds
        }
        out.append(packet.substr(at, from - at));
        out += text;
        at = to;
    }
    out.append(packet.substr(at, end - at));
    return out;
}
