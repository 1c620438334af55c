#pragma once

#include "engine/MemoryBudget.h"
#include "filter/BlackWhiteFilter.h"

#include <QObject>
#include <QRect>
#include <QString>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

struct SourceContent;

// What the preview asks to see.
struct PreviewRequest {
    QString path;  // "" for nothing: all that was held is let go
    FilterThresholds thresholds;
    int quality = 85;
    bool lossless = false;  // written lossless: the filter's output is what the file holds
    QRect part;             // picture pixels on screen, wanted exact at once; empty for none

    // Whether the two ask for the same result (the part aside).
    bool sameResult(const PreviewRequest& other) const {
        return path == other.path && thresholds == other.thresholds && quality == other.quality &&
               lossless == other.lossless;
    }
};

// What the work made, each as soon as it is made, in this order for a picture: a quick look
// (a JPEG big enough to reduce; for a big PNG, its rows decoded so far, every 40 ms while it is
// decoded), the original, then for each request the part on screen and
// the whole result; or the failure.
struct PreviewFrame {
    // LetGo: the work gave its pictures back to the memory budget, which a batch needs; they
    // come again when the budget has room.
    // FileSize: the whole result's file size, when the Whole frame came without it: estimated
    // at once, then exact once the values rest.
    enum class Kind { QuickLook, Original, Part, Whole, FileSize, Failure, LetGo };
    Kind kind = Kind::Failure;
    PreviewRequest request;                     // what it was made for
    std::shared_ptr<const BgrxImage> original;  // QuickLook: reduced; Original: whole, upright
    std::shared_ptr<const GreyImage> result;    // Part: at request.part (grown to whole blocks)
    QRect part;                                 // Part: where `result` lies in the picture
    QSize size;                                 // QuickLook, Original: the picture's, upright
    // Whole, FileSize: the written file's size; 0 lossless
    std::uint64_t fileBytes = 0;
    // Whole, FileSize: fileBytes is not the file's exact size (the last result's, or an
    // estimate); a FileSize frame follows
    bool sizeFollows = false;
    QString failure;  // Failure: the loader's reason
    // QuickLook: the rows of `original` that show the picture, from the top; the rest is not
    // decoded yet (a picture shown as its rows come). 0: all of them.
    int lookRows = 0;
};

// The preview's work, off the window's thread: one worker that decodes the picture, filters it
// and round-trips it through the batch's JPEG encoder (JpegRoundTrip), keeping the decoded
// picture and the last results so that new values only redo what they change. Requests come
// faster than results; the newest wins, and work for a result no longer wanted stops early.
// Frames are delivered on the thread that made this object, through `made`. Memory: the
// original (4 bytes a pixel), the filtered picture and the whole result (1 each), and once the
// values rest, the filter's two planes that a Black Filter step selects from (1 each), until a
// request for nothing or the end. They take their share of the batch's memory budget before
// the picture is decoded, waiting in line like the batch's pictures; when the one first in line
// needs that share, the work lets its pictures go (LetGo) and asks for its share again.
class PreviewWork : public QObject {
    Q_OBJECT
  public:
    // `budget`: the one the pictures take their share of while held (see the class); none: none.
    explicit PreviewWork(std::shared_ptr<MemoryBudget> budget = nullptr, QObject* parent = nullptr);
    ~PreviewWork() override;  // stops the worker and waits for it

    // The newest request wins. One for nothing lets all that is held go, even when another
    // follows before the work sees it: the next request starts from the file.
    void request(const PreviewRequest& request);

  signals:
    void made(const PreviewFrame& frame);

  private:
    struct Held;
    struct Recall;
    void run();
    bool work(const PreviewRequest& request, Held& held);
    bool load(const PreviewRequest& request, Held& held);
    BgrxImage decodeShowingRows(const PreviewRequest& request, const SourceContent& source);
    void recall();
    std::shared_ptr<const GreyImage> filteredFor(FilterThresholds thresholds, Held& held);
    void makeResult(const PreviewRequest& request, Held& held);
    void whenRested(const PreviewRequest& request, Held& held);
    void post(PreviewFrame frame);
    bool outdated(const PreviewRequest& request);
    PreviewRequest newest(const PreviewRequest& request);

    std::mutex mutex_;
    std::condition_variable wanted_;
    PreviewRequest latest_;
    bool pending_ = false;
    bool quit_ = false;
    bool letGo_ = false;  // a request for nothing came: what is held goes, whatever follows
    std::atomic<bool> stop_{false};        // the result being made is no longer wanted
    bool recalled_ = false;                // the budget wants the share back; under mutex_
    std::atomic<bool> cancelTake_{false};  // another picture is wanted: stop waiting for memory
    bool whenIdle_ = false;                // recalled lately: ask for memory once a batch rests
    std::shared_ptr<MemoryBudget> budget_;
    std::shared_ptr<Recall> recall_;
    PreviewRequest working_;  // under mutex_
    std::thread worker_;
};
