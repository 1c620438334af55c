#include "engine/formats/RawDataStream.h"

#include <algorithm>
#include <cstdio>  // jpeglib.h needs FILE
#include <cstring>

#include <jpeglib.h>

std::uint64_t RawDataStream::appendOffsets(const DngRawLayout& layout, bool bigEndian) {
    list_.clear();
    for (const TiffPiece& p : layout.pieces) {
        for (int k = 0; k < 4; ++k) {
            const int shift = 8 * (bigEndian ? 3 - k : k);
            list_.push_back(std::uint8_t(p.offset >> shift & 0xFF));
        }
    }
    appended_ = list_.size();
    run_ = {};
    return file_.size();
}

std::uint64_t RawDataStream::appendRows(const DngRawLayout& layout) {
    rows_ = layout;
    rowBytes_ = layout.plainRowBytes(layout.width);
    appended_ = rowBytes_ * layout.height;
    run_ = {};
    return file_.size();
}

std::span<const std::uint8_t> RawDataStream::runAt(std::uint64_t at) const {
    if (at < file_.size()) {
        return file_.subspan(at);
    }
    const std::uint64_t v = at - file_.size();
    if (!list_.empty()) {
        return std::span(list_).subspan(v);
    }
    // Rows of the picture, in the pieces where the layout keeps them (checked to be in the file).
    const std::uint64_t row = v / rowBytes_;
    const std::uint64_t x = v % rowBytes_;
    const DngRawLayout& l = rows_;
    if (!l.tiled) {
        const std::size_t k = row / l.pieceLength;
        const std::uint64_t inStrip = (row % l.pieceLength) * rowBytes_ + x;
        return file_.subspan(l.pieces[k].offset + inStrip, l.rowsOf(k) * rowBytes_ - inStrip);
    }
    const std::uint64_t tileRowBytes = l.plainRowBytes(l.pieceWidth);
    const std::uint64_t within = x % tileRowBytes;
    const std::size_t k = (row / l.pieceLength) * l.across() + x / tileRowBytes;
    const std::uint64_t from = l.pieces[k].offset + (row % l.pieceLength) * tileRowBytes + within;
    return file_.subspan(from, std::min(tileRowBytes - within, rowBytes_ - x));
}

int RawDataStream::read(void* into, size_t size, size_t count) {
    const std::uint64_t wanted = std::uint64_t(size) * count;
    std::uint64_t done = 0;
    while (done < wanted && at_ < total()) {
        const auto run = runAt(at_);
        const std::size_t n = std::size_t(std::min<std::uint64_t>(run.size(), wanted - done));
        std::memcpy(static_cast<std::uint8_t*>(into) + done, run.data(), n);
        done += n;
        at_ += n;
    }
    furthest_ = std::max(furthest_, at_);
    // As LibRaw's own streams count: items begun.
    return size == 0 ? 0 : int((done + size - 1) / size);
}

int RawDataStream::get_char() {
    if (at_ < runStart_ || at_ >= runStart_ + run_.size()) {
        if (at_ >= total()) {
            return -1;
        }
        run_ = runAt(at_);
        runStart_ = at_;
    }
    const int c = run_[at_ - runStart_];
    furthest_ = std::max(furthest_, ++at_);
    return c;
}

int RawDataStream::seek(INT64 offset, int whence) {
    const auto end = INT64(total());
    INT64 to = whence == SEEK_SET   ? offset
               : whence == SEEK_CUR ? INT64(at_) + offset
                                    : end + offset;
    at_ = std::uint64_t(std::clamp<INT64>(to, 0, end));
    return 0;
}

char* RawDataStream::gets(char* into, int size) {
    if (at_ >= total() || size <= 0) {
        return nullptr;
    }
    int n = 0;
    while (n < size - 1 && at_ < total()) {
        const int c = get_char();
        into[n++] = char(c);
        if (c == '\n') {
            break;
        }
    }
    into[n] = '\0';
    return into;
}

int RawDataStream::scanf_one(const char* format, void* value) {
    // A number or word, from a copy that ends, as LibRaw's own streams read one.
    char text[32] = {};
    const std::uint64_t start = at_;
    for (std::size_t i = 0; i + 1 < sizeof text && at_ < total(); ++i) {
        text[i] = char(get_char());
    }
    at_ = start;
    const int got = std::sscanf(text, format, value);
    if (got > 0) {
        for (int skipped = 0; at_ < total();) {
            ++at_;
            ++skipped;
            const int c = at_ < total() ? runAt(at_)[0] : 0;
            if (c == 0 || c == ' ' || c == '\t' || c == '\n' || skipped > 24) {
                break;
            }
        }
    }
    return got;
}

int RawDataStream::jpeg_src(void* decompress) {
    if (at_ >= file_.size()) {
        return -1;
    }
    jpeg_mem_src(static_cast<j_decompress_ptr>(decompress), file_.data() + at_,
                 static_cast<unsigned long>(file_.size() - at_));
    return 0;
}
