#pragma once

#include "base/Trap.h"
#include "engine/OrderedBatch.h"
#include "filter/BlackWhiteFilter.h"
#include "imagelist/PendingRows.h"

#include <QString>

#include <memory>
#include <optional>

class Dialogs;
class ImageList;
class WindowPointer;

// What the batch reads from the window and shows on it. Called on the window's thread.
class BatchWindow {
  public:
    virtual ~BatchWindow() = default;
    virtual FilterThresholds thresholds() const = 0;  // the three filter sliders
    virtual int quality() const = 0;                  // "Image Quality"
    virtual QString outputFolder() const = 0;         // the output folder field, as it stands
    virtual void setProgressValue(double percent) = 0;
    // Shown at once, even when the window's thread is not back in its event loop yet.
    virtual void setProgressText(const QString& text) = 0;
    // The batch has ended ("Done." answered): outputFolder() is the field as it stands again.
    virtual void batchEnded() {}
};

// "Start Converting": every row of the image list converted into the output folder.
//
// The passes are taken up in list order, each in its turn: when its turn comes a pass sets the
// pointer and the progress and reads its row, the first row of the list as it stands then that
// was there at the start and has had no turn (a row dragged during the batch keeps its one turn
// wherever it goes; rows added are not converted), and the thresholds, the quality and the output
// folder in force then are the ones it is written with; its failures are reported in its turn,
// and its file takes its name then, so where two rows map to one output name the later row's
// file wins. The pictures' work is done ahead on the engine's worker threads with the values in
// force when a worker begins one; a picture made from another path or with other values than its
// pass read in its turn is made again, and so is a save that failed before its turn. So a change
// holds from the next pass on, as if the passes ran one after another. A picture that cannot be
// loaded, filtered or saved is reported under its step and writes no file. No event loop of its
// own drives the batch: the click returns, and the rest happens as outcomes arrive. Every report
// box runs an event loop; the batch is whole at each (see OrderedBatch).
//
// Holds references to everything it is given; all must outlive it.
class BatchConversion : private OrderedBatch::Client {
  public:
    BatchConversion(BatchWindow& window, ImageList& list, WindowPointer& pointer, Dialogs& dialogs,
                    int workers = 0);

    void PushButton2_Click();
    bool ConversionRunning() const { return running_; }
    // A slider or the output folder changed: the pictures begun from now on take the new values.
    void settingsChanged();
    // The window closes: stop at once, leave the files already written, no other file or
    // temporary behind, and show nothing more.
    void abandon();

    int workers() const { return batch_.workers(); }
    // The batch's memory budget, which the preview shares.
    std::shared_ptr<MemoryBudget> sharedBudget() const { return batch_.sharedBudget(); }
    // How many pictures of the latest batch were made again because a value changed.
    int picturesMadeAgain() const { return batch_.madeAgain(); }

  private:
    // Items are passes 1 .. n less one.
    PictureJob jobFor(int item) override;
    void reached(int item) override;
    bool current(int item, const PictureOutcome& outcome) override;
    void takeUp(int item, PictureOutcome& outcome) override;
    void finished() override;

    // What the pass whose turn it is read when its turn came.
    struct Turn {
        int item = -1;
        ConversionSettings values;
        std::optional<QString> path;             // none when its row could not be read
        std::optional<RuntimeError> rowFailure;  // why not
        bool madeInTurn = false;                 // its picture was asked for again in its turn
    };

    ConversionSettings valuesNow() const;

    BatchWindow& window_;
    ImageList& list_;
    WindowPointer& pointer_;
    Dialogs& dialogs_;
    OrderedBatch batch_;
    std::shared_ptr<CurrentSettings> settings_ = std::make_shared<CurrentSettings>();
    // The click's trap; each step holds it too, so that a step still running in a report's
    // event loop keeps it when a new batch makes its own.
    std::shared_ptr<Trap> trap_;
    bool running_ = false;
    Turn turn_;
    QString path_;  // the row read in the latest turn, kept when a reading fails
    PendingRows rows_{list_};
};
