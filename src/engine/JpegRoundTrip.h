#pragma once

#include "filter/PixelImage.h"

#include <QRect>

#include <atomic>
#include <cstdint>
#include <vector>

// What a grey picture looks like once the batch has written it as a JPEG at `quality` (1 to 100)
// and a viewer reads it back: the pixels, and the size of the file. A grey JPEG's 8 x 8 blocks
// are encoded and decoded each on its own (the DC prediction is lossless), so a part of the
// picture made of whole blocks round-trips to exactly the pixels it has in the whole file, and
// the picture can be done in strips at once.
struct JpegRoundTrip {
    GreyImage pixels;             // the part's pixels, as decoded
    std::uint64_t fileBytes = 0;  // of the part's file; for the whole, the whole file's
    bool estimated = false;       // fileBytes is not the result's yet (RoundTripChanged)
    // RoundTripChanged: the blocks that went through the encoder (by index: row of blocks x
    // blocks across + column), in the file's order; what EstimatedBytes needs.
    std::vector<int> changed;
};

// `part` grown to whole blocks (its left and top down to multiples of 8, its right and bottom up
// to multiples of 8 or the picture's edge), within a `width` x `height` picture.
QRect BlockAligned(const QRect& part, int width, int height);

// The part of `picture` that BlockAligned(part) gives, round-tripped. Raises RuntimeError when
// the encoder fails (a quality outside 1..100 among its reasons). Thread-safe.
JpegRoundTrip RoundTripPart(const GreyImage& picture, const QRect& part, int quality);

// The whole picture, in strips of whole blocks on up to `threads` threads; `fileBytes` is the
// strips' data with one header, within a few bytes a strip of the file's size. `into`, a picture
// of the same size no longer wanted, gives the result its memory (fresh memory costs a page fault
// and a page of zeroes every 4 KB). Returns an empty picture as soon as `stop` is set.
// Thread-safe.
JpegRoundTrip RoundTripWhole(const GreyImage& picture, int quality, int threads,
                             const std::atomic<bool>& stop, GreyImage into = {});

// The size of the whole picture's file, as RoundTripWhole gives it, without decoding; 0 as soon
// as `stop` is set. Thread-safe.
std::uint64_t EncodedBytesWhole(const GreyImage& picture, int quality, int threads,
                                const std::atomic<bool>& stop);

// The round trip of `picture`, made from `before`, the round trip of `was` at the same quality
// whose file took `beforeBytes` (all three pictures the same size; otherwise the whole is done):
// every block whose pixels `was` has too keeps its pixels from `before`, and only the others go
// through the encoder, side by side in a picture of their own. The same pixels as
// RoundTripWhole's, in a fraction of its time when few blocks changed (a slider's step). Its
// `fileBytes` is then still `beforeBytes`, `estimated`, and `changed` lists the blocks redone
// (EstimatedBytes estimates the size from them, EncodedBytesWhole tells it exactly). When more
// than a sixteenth of the blocks changed, the whole is done, with its size. `into` as for
// RoundTripWhole (a third of a small step's time). Returns an empty picture as soon as `stop` is
// set. Thread-safe.
JpegRoundTrip RoundTripChanged(const GreyImage& picture, const GreyImage& was,
                               const GreyImage& before, std::uint64_t beforeBytes, int quality,
                               int threads, const std::atomic<bool>& stop, GreyImage into = {});

// The size of `picture`'s file estimated from that of `was` (`beforeBytes`), the blocks
// `changed` (RoundTripChanged's) being all that differ: `beforeBytes` plus what those blocks
// take now less what they took, each run of them encoded between its neighbours in the file,
// alike before and after. 0 as soon as `stop` is set. Thread-safe.
std::uint64_t EstimatedBytes(const GreyImage& picture, const GreyImage& was,
                             const std::vector<int>& changed, std::uint64_t beforeBytes,
                             int quality, int threads, const std::atomic<bool>& stop);
