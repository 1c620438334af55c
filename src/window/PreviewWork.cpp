#include "window/PreviewWork.h"

#include "base/RuntimeError.h"
#include "engine/ConversionEngine.h"
#include "engine/JpegRoundTrip.h"
#include "window/AverageDown.h"

#include <QImage>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

namespace {

// A quick look's longer side at least this, so that it fills a fitted preview.
constexpr int kQuickLookSide = 640;
// What a picture held takes: the original (4 bytes a pixel), the filtered picture, the result
// and the two planes a Black Filter step is made of (1 each), and while new values are worked
// on, the last filtered picture and result, and the changed blocks laid side by side, before and
// after, and round-tripped (a quarter of the picture each at the most).
constexpr std::uint64_t kBytesPerPixel = 11;
// A Black Filter above every grey level: each pixel keeps its own.
constexpr std::int16_t kAllDark = 256;

int threads() {
    return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

// rows(first, count) over `height` rows, in bands of at least 64 rows on every core.
template <typename Rows>
void inBands(int height, const Rows& rows) {
    const int bands = std::min(threads(), std::max(1, height / 64));
    const auto band = [&](int k) {
        const int first = height * k / bands;
        rows(first, height * (k + 1) / bands - first);
    };
    std::vector<std::jthread> helpers;
    for (int k = 1; k < bands; ++k) {
        helpers.emplace_back(band, k);
    }
    band(0);
}

// The filter over the whole picture, in bands on every core: the same pixels as in one pass.
// Into `grey`, a picture of the same size, when given.
std::shared_ptr<GreyImage> filtered(const BgrxImage& picture, FilterThresholds thresholds,
                                    std::shared_ptr<GreyImage> grey = nullptr) {
    if (!grey) {
        grey = std::make_shared<GreyImage>(picture.width(), picture.height());
    }
    inBands(picture.height(), [&](int first, int count) {
        ApplyBlackWhiteFilterRows(picture.row(first), picture.stride(), picture.width(),
                                  picture.height(), first, count, thresholds, grey->row(first),
                                  grey->stride());
    });
    return grey;
}

// The filter's result for Black Filter `black`, from its two planes: a pixel darker than it keeps
// its grey level (`brightness`, the result for kAllDark), any other takes its edges' value
// (`edges`, the result for 0, at the same Gradient and Gray Filters). The frame is black in both.
std::shared_ptr<GreyImage> selected(const GreyImage& brightness, const GreyImage& edges, int black,
                                    std::shared_ptr<GreyImage> grey) {
    const int width = brightness.width();
    // 16 pixels a vector (written out: the compiler's own vectoriser leaves such loops alone at
    // this optimisation level), the rest one by one.
    using Bytes = std::uint8_t __attribute__((vector_size(16)));
    const std::uint8_t darker = static_cast<std::uint8_t>(std::clamp(black, 0, 255));
    const bool allDark = black > 255;
    const Bytes darkerEach = Bytes{} + darker;
    inBands(brightness.height(), [&, grey = grey.get()](int first, int count) {
        for (int y = first; y < first + count; ++y) {
            const std::uint8_t* m = brightness.row(y);
            const std::uint8_t* v = allDark ? m : edges.row(y);
            std::uint8_t* out = grey->row(y);
            int x = 0;
            for (; x + 16 <= width; x += 16) {
                Bytes mm, vv;
                std::memcpy(&mm, m + x, 16);
                std::memcpy(&vv, v + x, 16);
                const Bytes dark = mm < darkerEach;  // all ones where darker
                const Bytes chosen = (mm & dark) | (vv & ~dark);
                std::memcpy(out + x, &chosen, 16);
            }
            for (; x < width; ++x) {
                out[x] = m[x] < darker ? m[x] : v[x];
            }
        }
    });
    return grey;
}

bool sameEdges(FilterThresholds a, FilterThresholds b) {
    return a.gradient == b.gradient && a.gray == b.gray;
}

PreviewFrame frameOf(PreviewFrame::Kind kind, const PreviewRequest& request,
                     std::shared_ptr<const BgrxImage> original = nullptr) {
    PreviewFrame frame;
    frame.kind = kind;
    frame.request = request;
    frame.original = std::move(original);
    return frame;
}

// Thrown out of a decode that another picture's request made needless.
struct Superseded {};

}  // namespace

// What the worker keeps from one request to the next.
struct PreviewWork::Held {
    std::unique_ptr<MemoryBudget::Share> share;  // given back last, after the pictures
    QString path;
    std::shared_ptr<const BgrxImage> original;
    bool failed = false;
    std::shared_ptr<const GreyImage> filtered;
    FilterThresholds filteredWith;
    // The planes a Black Filter step selects from (see selected), made while the preview rests:
    // each pixel's grey level, and its edges' value at edgesFor's Gradient and Gray Filters.
    std::shared_ptr<const GreyImage> brightness;
    std::shared_ptr<const GreyImage> edges;
    FilterThresholds edgesFor;

    // The edges' plane for these thresholds' Gradient and Gray Filters.
    void makeEdges(FilterThresholds thresholds) {
        if (edges && sameEdges(edgesFor, thresholds)) {
            return;
        }
        edges.reset();  // its memory first
        edges = ::filtered(*original, {0, thresholds.gradient, thresholds.gray});
        edgesFor = thresholds;
    }
    // A filtered picture and a result no longer used, whose memory the next ones take: fresh
    // memory costs a page fault and a page of zeroes for every 4 KB, more than a Black Filter
    // step's select. Taken only once nothing else holds them (the window lets go of a result
    // when the next one is shown).
    std::shared_ptr<const GreyImage> spare;
    std::shared_ptr<const GreyImage> spareResult;

    static bool free(const std::shared_ptr<const GreyImage>& image, int width, int height) {
        return image && image.use_count() == 1 && image->width() == width &&
               image->height() == height;
    }
    std::shared_ptr<GreyImage> take(int width, int height) {
        if (free(spare, width, height)) {
            return std::const_pointer_cast<GreyImage>(std::exchange(spare, nullptr));
        }
        spare.reset();
        return std::make_shared<GreyImage>(width, height);
    }
    GreyImage takeResult(int width, int height) {
        GreyImage memory;
        if (free(spareResult, width, height)) {
            memory = std::move(*std::const_pointer_cast<GreyImage>(spareResult));
        }
        spareResult.reset();
        return memory;
    }
    std::shared_ptr<const GreyImage> whole;
    std::shared_ptr<const GreyImage> wholeFrom;  // the filtered picture it was made of
    PreviewRequest wholeFor;
    std::uint64_t fileBytes = 0;
    bool sizeExact = true;  // fileBytes; otherwise estimated from the last result's

    // The pictures first, then their share.
    void letGo() {
        spare.reset();
        spareResult.reset();
        original.reset();
        filtered.reset();
        brightness.reset();
        edges.reset();
        whole.reset();
        wholeFrom.reset();
        *this = Held{};
    }
    ~Held() {
        spare.reset();
        spareResult.reset();
        original.reset();
        filtered.reset();
        brightness.reset();
        edges.reset();
        whole.reset();
        wholeFrom.reset();
    }
    Held() = default;
    Held& operator=(Held&&) = default;
};

// Where the budget's recall reaches the work, for as long as the work is there: the budget may
// call it on a batch's thread just as the work ends.
struct PreviewWork::Recall {
    std::mutex mutex;
    PreviewWork* work;
};

PreviewWork::PreviewWork(std::shared_ptr<MemoryBudget> budget, QObject* parent)
    : QObject(parent), budget_(std::move(budget)), recall_(std::make_shared<Recall>()) {
    recall_->work = this;
    worker_ = std::thread([this] { run(); });
}

PreviewWork::~PreviewWork() {
    {
        const std::lock_guard lock(recall_->mutex);
        recall_->work = nullptr;
    }
    {
        const std::lock_guard lock(mutex_);
        quit_ = true;
        stop_ = true;
        cancelTake_ = true;
    }
    wanted_.notify_all();
    if (budget_) {
        budget_->wake();
    }
    worker_.join();
}

void PreviewWork::request(const PreviewRequest& request) {
    {
        const std::lock_guard lock(mutex_);
        latest_ = request;
        pending_ = true;
        letGo_ = letGo_ || request.path.isEmpty();
        if (!request.sameResult(working_)) {
            stop_ = true;
        }
        if (request.path != working_.path) {
            cancelTake_ = true;
        }
    }
    wanted_.notify_all();
    if (budget_) {
        budget_->wake();
    }
}

// The newest request when it asks for the same result (a part in view that came meanwhile).
// It stays pending: should this work stop, it is done again.
PreviewRequest PreviewWork::newest(const PreviewRequest& request) {
    const std::lock_guard lock(mutex_);
    return pending_ && !letGo_ && latest_.sameResult(request) ? latest_ : request;
}

bool PreviewWork::outdated(const PreviewRequest& request) {
    const std::lock_guard lock(mutex_);
    return pending_ && !latest_.sameResult(request);
}

void PreviewWork::post(PreviewFrame frame) {
    QMetaObject::invokeMethod(
        this, [this, frame = std::move(frame)] { emit made(frame); }, Qt::QueuedConnection);
}

void PreviewWork::recall() {
    {
        const std::lock_guard lock(mutex_);
        recalled_ = true;
        stop_ = true;
    }
    wanted_.notify_all();
}

void PreviewWork::run() {
    Held held;
    for (;;) {
        PreviewRequest request;
        bool giveBack = false;
        {
            std::unique_lock lock(mutex_);
            wanted_.wait(lock, [&] { return quit_ || pending_ || recalled_; });
            if (quit_) {
                return;
            }
            giveBack = std::exchange(recalled_, false);
            // A retry after a recall waits for a batch to rest; the user's next request not.
            whenIdle_ = giveBack || (whenIdle_ && !pending_);
            request = pending_ ? latest_ : working_;  // after a recall, the same again
            working_ = request;
            pending_ = false;
            stop_ = false;
            cancelTake_ = false;
            if (letGo_) {
                letGo_ = false;
                held.letGo();  // even when a new request came before this one was seen
            }
        }
        if (giveBack && held.share) {
            held.letGo();
            post(frameOf(PreviewFrame::Kind::LetGo, request));
        }
        if (!work(request, held)) {
            held.letGo();
        }
    }
}

// Makes what `request` asks for that is not held yet; false when all is to be let go.
bool PreviewWork::work(const PreviewRequest& request, Held& held) {
    if (request.path.isEmpty()) {
        return false;
    }
    try {
        if (request.path != held.path && !load(request, held)) {
            return true;
        }
        if (held.failed || outdated(request)) {
            return true;
        }
        if (!held.filtered || !(held.filteredWith == request.thresholds)) {
            held.filtered = filteredFor(request.thresholds, held);
            held.filteredWith = request.thresholds;
        }
        if (held.whole && held.wholeFor.sameResult(request)) {
            // Asked again for what is held (values moved away and back): the window has let
            // go of it, so it is handed over again.
            PreviewFrame again = frameOf(PreviewFrame::Kind::Whole, request);
            again.result = held.whole;
            again.fileBytes = held.fileBytes;
            again.sizeFollows = !held.sizeExact;
            post(std::move(again));
            whenRested(request, held);
            return true;
        }
        if (outdated(request)) {
            return true;
        }
        makeResult(newest(request), held);
    } catch (...) {
        // Out of memory, most likely: the window goes on, and the reason is shown.
        held.letGo();
        held.path = request.path;
        held.failed = true;
        PreviewFrame failure = frameOf(PreviewFrame::Kind::Failure, request);
        failure.failure =
            QString::fromStdString(RuntimeError::fromCurrentException().description());
        post(std::move(failure));
    }
    return true;
}

// Reads and decodes the picture, a quick look first; false when another picture is wanted by
// the time the quick look is made.
bool PreviewWork::load(const PreviewRequest& request, Held& held) {
    held.letGo();
    held.path = request.path;
    const SourceContent source = ReadSourcePicture(request.path);
    if (budget_) {
        const PictureProbe& probe = source.content.probe;
        const std::uint64_t pixels = probe.width > 0 && probe.height > 0
                                         ? std::uint64_t(probe.width) * std::uint64_t(probe.height)
                                         : std::uint64_t(kFilterMaxWidth) * kFilterMaxHeight;
        held.share = std::make_unique<MemoryBudget::Share>(budget_->lend(
            source.content.bytes.size() + pixels * kBytesPerPixel,
            [recall = std::weak_ptr<Recall>(recall_)] {
                if (const auto open = recall.lock()) {
                    const std::lock_guard lock(open->mutex);
                    if (open->work != nullptr) {
                        open->work->recall();
                    }
                }
            },
            cancelTake_, whenIdle_));
        if (!held.share->held()) {
            held.letGo();
            return false;  // another picture is wanted
        }
    }
    BgrxImage look = QuickLook(source.content, source.name, kQuickLookSide);
    const bool looked = !look.empty();
    if (looked) {
        PreviewFrame frame = frameOf(PreviewFrame::Kind::QuickLook, request,
                                     std::make_shared<const BgrxImage>(std::move(look)));
        frame.size = QSize(static_cast<int>(source.content.probe.uprightWidth()),
                           static_cast<int>(source.content.probe.uprightHeight()));
        post(std::move(frame));
    }
    {
        const std::lock_guard lock(mutex_);
        if (pending_ && latest_.path != request.path) {
            held.letGo();
            return false;
        }
    }
    try {
        held.original =
            std::make_shared<const BgrxImage>(looked ? DecodePicture(source.content, source.name)
                                                     : decodeShowingRows(request, source));
    } catch (const Superseded&) {
        held.letGo();
        return false;
    }
    PreviewFrame frame = frameOf(PreviewFrame::Kind::Original, request, held.original);
    frame.size = QSize(held.original->width(), held.original->height());
    post(std::move(frame));
    return true;
}

// A picture without a quick look that decodes row by row (a PNG) is shown as its rows come:
// reduced as a quick look would be, band by band as they are done, and handed over 20 ms into the
// decode, then every 40 ms.
BgrxImage PreviewWork::decodeShowingRows(const PreviewRequest& request,
                                         const SourceContent& source) {
    const PictureProbe& probe = source.content.probe;
    const long long longer = std::max<long long>(probe.width, probe.height);
    const int factor = longer >= 8LL * kQuickLookSide   ? 8
                       : longer >= 4LL * kQuickLookSide ? 4
                       : longer >= 2LL * kQuickLookSide ? 2
                                                        : 1;
    if (factor == 1) {
        return DecodePicture(source.content, source.name);  // small: whole at once
    }
    BgrxImage reduced;
    int reducedRows = 0;  // of the picture; a multiple of `factor` until the last
    auto shown = std::chrono::steady_clock::now();
    bool first = true;
    return DecodePictureShowingRows(
        source.content, source.name, [&](const BgrxImage& picture, int rows) {
            if (rows == picture.height()) {
                return;  // the original follows at once
            }
            {
                const std::lock_guard lock(mutex_);
                if (pending_ && latest_.path != request.path) {
                    throw Superseded{};  // another picture is wanted: the rest is not decoded
                }
            }
            if (reduced.empty()) {
                reduced = BgrxImage((picture.width() + factor - 1) / factor,
                                    (picture.height() + factor - 1) / factor);
            }
            const int upTo = rows / factor * factor;
            if (upTo > reducedRows) {
                const QImage band(picture.row(reducedRows), picture.width(), upTo - reducedRows,
                                  picture.stride(), QImage::Format_RGB32);
                const QImage small = AverageDown(band, factor);
                for (int y = 0; y < small.height(); ++y) {
                    std::memcpy(reduced.row(reducedRows / factor + y), small.constScanLine(y),
                                std::size_t(4) * std::size_t(reduced.width()));
                }
                reducedRows = upTo;
            }
            // The first rows soon, then more every 40 ms.
            const auto now = std::chrono::steady_clock::now();
            if (now - shown < std::chrono::milliseconds(first ? 20 : 40) || reducedRows == 0) {
                return;
            }
            shown = now;
            first = false;
            auto copy = std::make_shared<BgrxImage>(reduced.width(), reduced.height());
            std::memcpy(copy->data(), reduced.data(),
                        std::size_t(reduced.stride()) * std::size_t(reducedRows / factor));
            PreviewFrame frame = frameOf(PreviewFrame::Kind::QuickLook, request, std::move(copy));
            frame.size = QSize(picture.width(), picture.height());
            frame.lookRows = reducedRows / factor;
            post(std::move(frame));
        });
}

// The part on screen at once, then the whole: what the written file holds.
void PreviewWork::makeResult(const PreviewRequest& request, Held& held) {
    PreviewFrame whole = frameOf(PreviewFrame::Kind::Whole, request);
    std::shared_ptr<const GreyImage> was;  // after a step: the filtered picture before it
    std::vector<int> changed;              // and the blocks the step changed
    bool exact = true;                     // the size posted with the pixels
    if (request.lossless) {
        whole.result = held.filtered;
    } else {
        if (!request.part.isEmpty()) {
            PreviewFrame part = frameOf(PreviewFrame::Kind::Part, request);
            part.part = BlockAligned(request.part, held.filtered->width(), held.filtered->height());
            part.result = std::make_shared<const GreyImage>(
                RoundTripPart(*held.filtered, part.part, request.quality).pixels);
            post(std::move(part));
        }
        // After a step of a slider most blocks are as they were: only those that changed go
        // through the encoder. The pixels are shown with the last size; its estimate follows
        // them, and the exact size once the slider has rested.
        const bool fromLast = held.whole && held.wholeFrom && !held.wholeFor.lossless &&
                              held.wholeFor.path == request.path &&
                              held.wholeFor.quality == request.quality;
        JpegRoundTrip trip =
            fromLast
                ? RoundTripChanged(*held.filtered, *held.wholeFrom, *held.whole, held.fileBytes,
                                   request.quality, threads(), stop_,
                                   held.takeResult(held.filtered->width(), held.filtered->height()))
                : RoundTripWhole(*held.filtered, request.quality, threads(), stop_);
        if (trip.pixels.empty()) {
            return;  // stopped: a newer request waits
        }
        whole.result = std::make_shared<const GreyImage>(std::move(trip.pixels));
        whole.fileBytes = trip.fileBytes;
        exact = !trip.estimated || (trip.changed.empty() && held.sizeExact);
        if (!exact) {
            was = held.wholeFrom;
            changed = std::move(trip.changed);
        }
    }
    held.spareResult = std::exchange(held.whole, whole.result);
    held.spare = std::exchange(held.wholeFrom, held.filtered);
    held.wholeFor = request;
    held.fileBytes = whole.fileBytes;
    held.sizeExact = exact;
    whole.sizeFollows = !exact;
    post(std::move(whole));
    if (was && !changed.empty()) {
        const std::uint64_t bytes = EstimatedBytes(*held.filtered, *was, changed, held.fileBytes,
                                                   request.quality, threads(), stop_);
        if (bytes == 0) {
            return;  // stopped: the exact size comes with the next result's
        }
        held.fileBytes = bytes;
        PreviewFrame size = frameOf(PreviewFrame::Kind::FileSize, request);
        size.fileBytes = bytes;
        size.sizeFollows = true;  // the exact one once the slider rests
        post(std::move(size));
    }
    whenRested(request, held);
}

// The filtered picture for `thresholds`: selected from the planes where they are held for its
// Gradient and Gray Filters (a Black Filter step), else the filter over the picture: one pass,
// where making the edges' plane and selecting from it would be two. The planes for the new
// values are made once the preview rests.
std::shared_ptr<const GreyImage> PreviewWork::filteredFor(FilterThresholds thresholds, Held& held) {
    const int width = held.original->width();
    const int height = held.original->height();
    if (!held.brightness || !held.edges || !sameEdges(held.edgesFor, thresholds)) {
        held.edges.reset();  // for other values: its memory goes first
        return filtered(*held.original, thresholds, held.take(width, height));
    }
    return selected(*held.brightness, *held.edges, thresholds.black, held.take(width, height));
}

// Once the result is on screen and the values have rested: the whole result's exact file size
// when it came with an estimate, then the planes of the next Black Filter step.
void PreviewWork::whenRested(const PreviewRequest& request, Held& held) {
    const auto newerHeld = [&] { return quit_ || pending_ || recalled_; };  // under mutex_
    const auto newer = [&] {
        const std::lock_guard lock(mutex_);
        return newerHeld();
    };
    const bool planesHeld =
        held.brightness && held.edges && sameEdges(held.edgesFor, request.thresholds);
    if ((held.sizeExact || !held.filtered) && (planesHeld || !held.original)) {
        return;
    }
    {
        // The estimate is on screen: the exact size waits until the window has painted and the
        // slider has rested, rather than take the cores from them.
        std::unique_lock lock(mutex_);
        if (wanted_.wait_for(lock, std::chrono::milliseconds(250), newerHeld)) {
            return;  // something newer: its own size follows it
        }
    }
    if (!held.sizeExact && held.filtered) {
        const std::uint64_t bytes =
            EncodedBytesWhole(*held.filtered, request.quality, threads(), stop_);
        if (bytes == 0) {
            return;  // stopped: asked again, it is made then
        }
        held.fileBytes = bytes;
        held.sizeExact = true;
        PreviewFrame size = frameOf(PreviewFrame::Kind::FileSize, request);
        size.fileBytes = bytes;
        post(std::move(size));
    }
    if (!held.original || newer()) {
        return;
    }
    if (!held.brightness) {
        held.brightness = filtered(
            *held.original, {kAllDark, request.thresholds.gradient, request.thresholds.gray});
    }
    if (!newer()) {
        held.makeEdges(request.thresholds);
    }
}
