#pragma once

#include "engine/formats/CaptureData.h"
#include "engine/output/EncodedBytes.h"
#include "engine/output/GreyRowSink.h"
#include "engine/output/SaveFailure.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

// A grey one-channel JPEG encoder over libjpeg that takes the picture a band of rows at a time,
// so that the picture never has to exist whole; the file's bytes are kept in memory. The
// boundary where libjpeg's failures become the save failure (RaiseSaveFailure): status 2 for a
// quality outside 1..100 or a picture without pixels, 3 when the encoder fails. The quality is
// given to the encoder unchanged. One thread at a time.
class JpegEncoder : public GreyRowSink {
  public:
    explicit JpegEncoder(int quality);
    ~JpegEncoder() override;
    JpegEncoder(const JpegEncoder&) = delete;
    JpegEncoder& operator=(const JpegEncoder&) = delete;

    // What the file is to carry of its source's metadata, written by begin(); none unless given.
    void carry(CaptureData data) { carried_ = std::move(data); }

    void begin(int width, int height) override;
    void take(const std::uint8_t* rows, std::ptrdiff_t stride, int count) override;
    // After the last row: the file's bytes.
    EncodedBytes finish();

    // From the next begin() on, appends to `blocks` the quantised coefficients of each block as
    // it is coded (64 a block, in natural order; rows of blocks in the file's order), for a
    // decoder that need not undo the entropy coding (JpegBlockDecoder). The caller owns `blocks`
    // and may empty it between calls; nullptr keeps none.
    void keepBlocks(std::vector<std::int16_t>* blocks) { kept_ = blocks; }
    // The bytes written so far, the file's headers among them once rows have been taken; valid
    // until the next call.
    std::span<const std::uint8_t> written() const;

    // Whether a failure raised so far came from the encoder itself.
    bool failed() const { return failed_; }

  private:
    struct State;
    [[noreturn]] void fail(SaveStatus status);
    void write(std::uint8_t** rows);  // 8 rows, a row of blocks
    void writeCarried();

    int quality_;
    CaptureData carried_;
    std::vector<std::int16_t>* kept_ = nullptr;
    bool failed_ = false;
    std::unique_ptr<State> state_;
};
