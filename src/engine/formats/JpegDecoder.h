#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>

// A JPEG decoder that hands out the picture a few rows at a time, in the 4-byte layout (blue,
// green, red, a fourth byte of no meaning): grey pictures expand, CMYK as Adobe writes it becomes
// RGB. The boundary where libjpeg's failures become RuntimeErrors (481, the description naming
// `path` and the library's message). Reads `jpeg`, which the caller owns and keeps until the
// decoder is gone. One thread at a time.
class JpegDecoder {
  public:
    enum class Warnings {
        Stop,  // the first warning ends the decode: harmless ones with HarmlessWarning
        Pass,  // harmless warnings pass; those that leave the picture incomplete fail
    };
    // Raised in Stop mode for a warning after which the picture is still whole (stray bytes
    // between markers, an odd version number), so that the caller may decode again with Pass.
    struct HarmlessWarning {};

    // Reads the header, so that the size is known before any pixel memory is taken.
    JpegDecoder(const std::uint8_t* jpeg, std::size_t size, const QString& path, Warnings warnings);
    ~JpegDecoder();
    JpegDecoder(const JpegDecoder&) = delete;
    JpegDecoder& operator=(const JpegDecoder&) = delete;

    // Before the first row: the picture at 1/`denominator` of its size (2, 4 or 8; the decoder
    // scales as it transforms), and of a progressive file only the scans up to the first that
    // leaves every component with its average colour: a first look, made in a fraction of the
    // whole decode's time.
    void lookQuickly(int denominator);

    // The size of the picture as it is decoded.
    int width() const;
    int height() const;

    // The next rows, up to `count` (at least one while rows remain): row k goes to rows[k], 4 ×
    // width() bytes. Returns how many were written; the last row's call finishes the decode.
    int readRows(std::uint8_t* const* rows, int count);
    int rowsRead() const;

  private:
    struct State;
    [[noreturn]] void raise();
    void start();
    int decode(std::uint8_t** rows, int count);

    std::unique_ptr<State> state_;
};

// Runs decode(decoder) with a decoder that stops at the first warning, and when that warning is
// harmless, once more with one that lets harmless warnings pass: most files decode once, and a
// file that viewers open despite a flaw still loads.
template <class Decode>
auto DecodeJpeg(const std::uint8_t* jpeg, std::size_t size, const QString& path, Decode&& decode) {
    try {
        JpegDecoder strict(jpeg, size, path, JpegDecoder::Warnings::Stop);
        return decode(strict);
    } catch (const JpegDecoder::HarmlessWarning&) {
    }
    JpegDecoder lenient(jpeg, size, path, JpegDecoder::Warnings::Pass);
    return decode(lenient);
}
