#pragma once

#include "base/Trap.h"
#include "engine/OrderedBatch.h"
#include "filter/BlackWhiteFilter.h"

#include <QString>

#include <deque>
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
    virtual void setProgressText(const QString& text) = 0;
};

// "Start Converting": every row of the image list converted into the output folder.
//
// The window's thread starts each pass (reads its row once) and hands the picture's work to the
// engine's worker threads, several passes ahead. A worker takes the thresholds, the quality and
// the output folder as they stand when it begins the picture: the window reports every change
// (settingsChanged), so a change reaches every picture begun after it. Finished passes are taken up
// in list order: the progress shows the first unfinished pass, each failure is reported in its
// turn, and each file takes its name in its turn, so where two rows map to one output name the
// later row's file wins. A picture that cannot be loaded, filtered or saved is reported under its
// step and writes no file. No event loop of its own drives the batch: the click returns, and the
// rest happens as outcomes arrive.
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

  private:
    // Items are passes 1 .. n less one.
    PictureJob jobFor(int item) override;
    void reached(int item) override;
    void takeUp(int item, PictureOutcome& outcome) override;
    void finished() override;

    BatchWindow& window_;
    ImageList& list_;
    WindowPointer& pointer_;
    Dialogs& dialogs_;
    OrderedBatch batch_;
    std::shared_ptr<CurrentSettings> settings_ = std::make_shared<CurrentSettings>();
    std::optional<Trap> trap_;
    bool running_ = false;
    std::deque<QString> sourcePaths_;  // of the passes started and not yet taken up, in order
};
