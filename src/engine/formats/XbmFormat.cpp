#include "engine/formats/ByteReading.h"
#include "engine/formats/FormatModules.h"
#include "engine/formats/QtReader.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <string_view>

// X bitmaps, read by Qt: C text whose bytes must all be there.

namespace {

using namespace bytes;
using Bytes = std::span<const std::uint8_t>;

// An X bitmap's text, a line at a time as Qt's reader takes it: up to 299 bytes, through the
// newline; the content stops at a zero byte, as the reader's C strings do.
class XbmLines {
  public:
    explicit XbmLines(Bytes b) : b_(b) {}
    std::optional<std::string_view> next() {
        if (at_ >= b_.size()) {
            return std::nullopt;
        }
        std::size_t end = at_;
        while (end < b_.size() && end - at_ < kLine && b_[end] != '\n') {
            ++end;
        }
        if (end < b_.size() && end - at_ < kLine) {
            ++end;  // the newline
        }
        const std::string_view line(reinterpret_cast<const char*>(b_.data()) + at_, end - at_);
        at_ = end;
        return line;
    }
    static constexpr std::size_t kLine = 299;

  private:
    Bytes b_;
    std::size_t at_ = 0;
};

// The number of a "#define NAME NUMBER" line (its last byte, the newline, dropped) as the reader
// takes it: after "#define", blanks, a name of letters, digits, '_' and '.', blanks, the rest as
// one decimal number between white space; 0 when it is not one.
long long defineNumber(std::string_view line) {
    line = line.substr(0, std::min(line.size() - 1, line.find('\0')));
    if (!line.starts_with("#define")) {
        return 0;
    }
    std::size_t at = 7;
    const auto blank = [&](char c) { return c == ' ' || c == '\t'; };
    while (at < line.size() && blank(line[at])) {
        ++at;
    }
    while (at < line.size() && (std::isalnum(static_cast<unsigned char>(line[at])) ||
                                line[at] == '_' || line[at] == '.')) {
        ++at;
    }
    while (at < line.size() &&
           (blank(line[at]) || std::isspace(static_cast<unsigned char>(line[at])))) {
        ++at;
    }
    std::size_t end = line.size();
    while (end > at && std::isspace(static_cast<unsigned char>(line[end - 1]))) {
        --end;
    }
    const bool negative = at < end && line[at] == '-';
    if (at < end && (line[at] == '+' || line[at] == '-')) {
        ++at;
    }
    long long n = 0;
    if (at == end) {
        return 0;
    }
    for (; at < end; ++at) {
        if (!std::isdigit(static_cast<unsigned char>(line[at])) || n > (1LL << 31)) {
            return 0;
        }
        n = n * 10 + (line[at] - '0');
    }
    return negative ? -n : n;
}

// X bitmaps are C text: "#define NAME_width 16", "#define NAME_height 8", then the bytes as 0x
// hex. As Qt's reader takes it: the first line that begins with '#' (within 4 KB of lines under
// 299 bytes) gives the width and the line after it the height, whatever their names, each from
// 1 to 32767; each "0x" after them is one byte of pixels.
void probeXbm(Bytes b, PictureProbe& p) {
    XbmLines lines(b);
    std::optional<std::string_view> line;
    std::size_t read = 0;
    do {
        line = lines.next();
        if (!line || line->size() >= XbmLines::kLine || (read += line->size()) >= 4096) {
            return;
        }
    } while (line->front() != '#');
    const long long width = defineNumber(*line);
    line = lines.next();
    const long long height = line ? defineNumber(*line) : 0;
    if (width <= 0 || width > 32767 || height <= 0 || height > 32767) {
        return;  // the reader refuses it
    }
    p.width = width;
    p.height = height;
    std::uint64_t held = 0;
    // Whether the array's closing brace follows its last byte: a file cut before it may have
    // lost the last byte's second digit, which the reader takes as a byte all the same.
    bool closed = false;
    while ((line = lines.next())) {
        const std::string_view text = line->substr(0, line->find('\0'));
        std::size_t last = std::string_view::npos;
        for (std::size_t at = text.find("0x"); at != std::string_view::npos;
             at = text.find("0x", at + 2)) {
            ++held;
            last = at;
        }
        closed =
            text.find('}', last == std::string_view::npos ? 0 : last) != std::string_view::npos ||
            (closed && last == std::string_view::npos);
    }
    const std::uint64_t stated = (std::uint64_t(p.width) + 7) / 8 * std::uint64_t(p.height);
    if (held != stated) {
        p.truncation = "the picture is truncated or corrupt (it holds " + std::to_string(held) +
                       " bytes for its " + std::to_string(stated) + ")";
    } else if (!closed) {
        p.truncation =
            "the picture is truncated or corrupt (it ends before the brace that closes "
            "its bytes)";
    }
}

class Xbm final : public QtReadFormat {
  public:
    PictureType type() const override { return PictureType::Xbm; }
    const char* name() const override { return "X bitmap"; }
    bool claims(Bytes head) const override { return startsWith(head, "#define", 7); }
    void probe(Bytes bytes, PictureProbe& p) const override { probeXbm(bytes, p); }

  protected:
    QByteArray readerName() const override { return "xbm"; }
};

}  // namespace

const PictureFormat& XbmFormat() {
    static const Xbm format;
    return format;
}
