#include "engine/formats/XmpForOutput.h"

#include "base/RuntimeError.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <tuple>
#include <vector>

namespace {

constexpr std::string_view kRdf = "http://www.w3.org/1999/02/22-rdf-syntax-ns#";
constexpr std::string_view kTiff = "http://ns.adobe.com/tiff/1.0/";
constexpr std::string_view kExif = "http://ns.adobe.com/exif/1.0/";
const std::string kOne = "1";

bool validUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        // Most of a packet is ASCII without a zero byte: 8 bytes at a time, while none has its
        // high bit and none is zero (the test for a zero byte is exact when none has its high bit).
        constexpr std::uint64_t kHigh = 0x8080808080808080;
        constexpr std::uint64_t kOnes = 0x0101010101010101;
        const auto plain = [&](std::size_t at) {
            std::uint64_t word;
            std::memcpy(&word, s.data() + at, 8);
            return ((word | (word - kOnes)) & kHigh) == 0;
        };
        while (i + 32 <= s.size() && plain(i) & plain(i + 8) & plain(i + 16) & plain(i + 24)) {
            i += 32;
        }
        while (i + 8 <= s.size() && plain(i)) {
            i += 8;
        }
        if (i >= s.size()) {
            break;
        }
        const auto c = static_cast<unsigned char>(s[i]);
        const std::size_t more = c == 0                  ? 4
                                 : c < 0x80              ? 0
                                 : c >= 0xC2 && c < 0xE0 ? 1
                                 : c >= 0xE0 && c < 0xF0 ? 2
                                 : c >= 0xF0 && c < 0xF5 ? 3
                                                         : 4;
        if (more == 4 || i + more >= s.size()) {
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

constexpr auto kNameChars = [] {
    std::array<bool, 256> table{};
    for (int c = 0; c < 256; ++c) {
        table[std::size_t(c)] = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                                (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.' ||
                                c >= 0x80;
    }
    return table;
}();

inline bool nameChar(char c) {
    return kNameChars[static_cast<unsigned char>(c)];
}

bool space(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Replacements of [first, second) by the text.
using Edit = std::tuple<std::size_t, std::size_t, std::string>;

// A qualified name in the packet: prefix:local, and what stands before it.
struct Name {
    std::string_view prefix, local;
    std::size_t at = 0;  // of the prefix
};

// The simple value that `name` is given where it stands, as an attribute (the text between its
// quotes) or as an element (the text before its end tag): the bytes to replace, or [0, 0).
std::pair<std::size_t, std::size_t> valueAt(std::string_view p, const Name& name) {
    const std::size_t after = name.at + name.prefix.size() + 1 + name.local.size();
    if (name.at == 0 || after >= p.size()) {
        return {0, 0};
    }
    if (space(p[name.at - 1])) {
        std::size_t q = after;
        while (q < p.size() && space(p[q])) {
            ++q;
        }
        if (q >= p.size() || p[q] != '=') {
            return {0, 0};
        }
        ++q;
        while (q < p.size() && space(p[q])) {
            ++q;
        }
        if (q >= p.size() || (p[q] != '"' && p[q] != '\'')) {
            return {0, 0};
        }
        const std::size_t close = p.find(p[q], q + 1);
        return close == std::string_view::npos ? std::pair<std::size_t, std::size_t>{0, 0}
                                               : std::pair{q + 1, close};
    }
    if (p[name.at - 1] == '<' && (p[after] == '>' || space(p[after]))) {
        // The start tag's attributes (rdf:datatype and the like), to its end.
        std::size_t tagEnd = after;
        for (char quote = 0; tagEnd < p.size() && (quote != 0 || p[tagEnd] != '>'); ++tagEnd) {
            if (quote != 0) {
                quote = p[tagEnd] == quote ? 0 : quote;
            } else if (p[tagEnd] == '"' || p[tagEnd] == '\'') {
                quote = p[tagEnd];
            }
        }
        if (tagEnd >= p.size() || p[tagEnd - 1] == '/') {
            return {0, 0};  // no end, or an empty element
        }
        const std::size_t text = tagEnd + 1;
        // The value, or a CDATA section holding it: either is replaced whole.
        std::size_t end = p.find('<', text);
        if (p.substr(text, 9) == "<![CDATA[") {
            const std::size_t cdata = p.find("]]>", text + 9);
            end = cdata == std::string_view::npos ? cdata : cdata + 3;
        }
        const std::string_view close = end == std::string_view::npos ? "" : p.substr(end);
        const std::size_t length = name.prefix.size() + 1 + name.local.size();
        if (close.size() >= length + 3 && close.substr(0, 2) == "</" &&
            close.substr(2, length) == p.substr(name.at, length) && close[length + 2] == '>') {
            return {text, end};
        }
    }
    return {0, 0};
}

// Whether the 8 bytes `b` are all spaces or line ends, the padding's bytes, tested at once.
bool blanks(std::string_view b) {
    std::uint64_t word;
    std::memcpy(&word, b.data(), 8);
    constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7F;
    constexpr std::uint64_t kHigh = 0x8080808080808080;
    // The high bit of each byte that is zero, exactly (no borrow crosses bytes).
    const auto zeros = [&](std::uint64_t x) { return ~(((x & kLow7) + kLow7) | x) & kHigh; };
    return (zeros(word ^ 0x2020202020202020) | zeros(word ^ 0x0A0A0A0A0A0A0A0A)) == kHigh;
}

// Where the packet's end marker ("<?xpacket end=") begins, looking back from its end one '<' at a
// time (a search that compares at every byte costs more than the rest of the edit).
std::size_t lastMarker(std::string_view p) {
    constexpr std::string_view kEnd = "<?xpacket end=";
    for (std::size_t length = p.size(); length > 0;) {
        const void* found = memrchr(p.data(), '<', length);
        if (found == nullptr) {
            break;
        }
        const auto at = std::size_t(static_cast<const char*>(found) - p.data());
        if (p.substr(at, kEnd.size()) == kEnd) {
            return at;
        }
        length = at;
    }
    return std::string_view::npos;
}

}  // namespace

std::string XmpForOutput(std::string_view packet, std::uint32_t width, std::uint32_t height) {
    if (!validUtf8(packet)) {
        throw RuntimeError(ErrorNumber::InvalidPicture, "its XMP is not UTF-8 text");
    }
    if (packet.find(kRdf) == std::string_view::npos) {
        throw RuntimeError(ErrorNumber::InvalidPicture, "its XMP holds no RDF description");
    }
    const std::string w = std::to_string(width);
    const std::string h = std::to_string(height);
    struct Field {
        std::string_view uri, local;
        const std::string& value;
    };
    const Field fields[] = {{kTiff, "Orientation", kOne},
                            {kTiff, "ImageWidth", w},
                            {kTiff, "ImageLength", h},
                            {kExif, "PixelXDimension", w},
                            {kExif, "PixelYDimension", h}};
    // One pass over the packet's colons: the namespaces it binds, and the names of the fields.
    std::vector<std::pair<std::string_view, std::string_view>> bound;  // prefix, namespace
    std::vector<std::pair<Name, const Field*>> found;
    for (std::size_t colon = packet.find(':'); colon != std::string_view::npos;
         colon = packet.find(':', colon + 1)) {
        std::size_t from = colon;
        while (from > 0 && nameChar(packet[from - 1])) {
            --from;
        }
        std::size_t to = colon + 1;
        while (to < packet.size() && nameChar(packet[to])) {
            ++to;
        }
        const Name name{packet.substr(from, colon - from), packet.substr(colon + 1, to - colon - 1),
                        from};
        if (name.prefix == "xmlns") {
            std::size_t q = to;
            while (q < packet.size() && (space(packet[q]) || packet[q] == '=')) {
                ++q;
            }
            if (q < packet.size() && (packet[q] == '"' || packet[q] == '\'')) {
                const std::size_t close = packet.find(packet[q], q + 1);
                if (close != std::string_view::npos) {
                    bound.emplace_back(name.local, packet.substr(q + 1, close - q - 1));
                }
            }
            continue;
        }
        for (const Field& f : fields) {
            if (name.local == f.local) {
                found.emplace_back(name, &f);
            }
        }
    }
    std::vector<Edit> edits;
    for (const auto& place : found) {
        const Name& name = place.first;
        const Field* field = place.second;
        const bool ours = std::any_of(bound.begin(), bound.end(), [&](const auto& b) {
            return b.first == name.prefix && b.second == field->uri;
        });
        const auto [from, to] =
            ours ? valueAt(packet, name) : std::pair<std::size_t, std::size_t>{};
        if (to > from || (to == from && from > 0)) {
            edits.emplace_back(from, to, field->value);
        }
    }
    // The padding a writer leaves for editing in place.
    std::size_t end = packet.size();
    const std::size_t marker = lastMarker(packet);
    if (marker != std::string_view::npos) {
        std::size_t padding = marker;
        while (padding >= 8 && blanks(packet.substr(padding - 8, 8))) {
            padding -= 8;  // writers pad with kilobytes of spaces and line ends
        }
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
