#include "window/BatchConversion.h"

#include "base/AppTitle.h"
#include "base/Dialogs.h"
#include "base/FileExists.h"
#include "base/TrapLabels.h"
#include "base/WindowPointer.h"
#include "engine/AtomicFile.h"
#include "engine/BatchPaths.h"
#include "imagelist/ImageList.h"

namespace {

// The window's step for the stage of a picture's work that failed.
int stepOf(PictureStage stage) {
    switch (stage) {
        case PictureStage::Start:
            return 114;
        case PictureStage::Load:
            return 122;
        case PictureStage::Filter:
            return 132;
        case PictureStage::Encode:
        case PictureStage::Write:
        case PictureStage::None:
            break;
    }
    return 152;
}

}  // namespace

BatchConversion::BatchConversion(BatchWindow& window, ImageList& list, WindowPointer& pointer,
                                 Dialogs& dialogs, int workers)
    : window_(window), list_(list), pointer_(pointer), dialogs_(dialogs), batch_(*this, workers) {}

void BatchConversion::PushButton2_Click() {
    if (running_) {  // 100: a second click while a batch runs does nothing
        return;
    }
    trap_.emplace(dialogs_, TrapLabel::PushButton2_Click);
    Trap& trap = *trap_;
    const auto plain = [this](const char* text) {
        dialogs_.messageBox(QString::fromUtf8(text), Dialogs::Style::Plain, AppTitle());
    };
    trap.line(102, [&] { running_ = true; });
    if (trap.test(104, [&] { return list_.RowCount() == 0; })) {
        trap.line(166, [&] { plain("No files added."); });
        trap.line(168, [&] { running_ = false; });
        return;
    }
    if (trap.test(106, [&] { return !FolderExists(window_.outputFolder()); })) {
        trap.line(164, [&] { plain("Folder does not exist. Please select another folder."); });
        trap.line(168, [&] { running_ = false; });
        return;
    }
    int count = 0;
    trap.line(108, [&] {
        settingsChanged();
        RemoveStagedLeftovers(window_.outputFolder());  // what an ended run left half done
        count = list_.RowCount();
        sourcePaths_.clear();
    });
    batch_.start(count);  // passes 110 to 154, as the pictures come back
}

// Steps 110 to 150 of a pass, at the moment it starts. A failure here is kept and reported when
// the pass's turn comes, so that reports stay in list order.
PictureJob BatchConversion::jobFor(int item) {
    trap_->line(110, [&] { pointer_.setMode(PointerMode::Hourglass); });
    sourcePaths_.emplace_back();
    sourcePaths_.back() = list_.RowText(item + 1);  // 114: read once; the pass keeps its own name
    PictureJob job;
    job.sourcePath = sourcePaths_.back();  // 134 to 150 make the output name from it
    job.settings = settings_;
    return job;
}

void BatchConversion::settingsChanged() {
    settings_->set({window_.thresholds(), window_.quality(), window_.outputFolder()});
}

void BatchConversion::reached(int item) {
    Trap& trap = *trap_;
    trap.line(112, [&] {
        const int rows = list_.RowCount();  // now: rows added since the start count
        if (rows == 0) {
            throw RuntimeError(ErrorNumber::DivisionByZero, "Division by zero");
        }
        window_.setProgressValue(100.0 * (item + 1) / rows);
    });
    trap.line(116, [&] {
        window_.setProgressText(QStringLiteral("Processing: ") + GetFileName(sourcePaths_.front()));
    });
}

void BatchConversion::takeUp(int, PictureOutcome& outcome) {
    sourcePaths_.pop_front();
    if (outcome.failed()) {
        trap_->line(stepOf(outcome.failedStage), [&] { throw outcome.failure; });
    }  // else 152: the file has taken its name
}

void BatchConversion::finished() {
    Trap& trap = *trap_;
    trap.line(156, [&] { pointer_.setMode(PointerMode::Default); });
    trap.line(160, [&] { window_.setProgressValue(0); });
    trap.line(158, [&] { window_.setProgressText(QStringLiteral("Progress Bar")); });
    trap.line(162, [&] {
        dialogs_.messageBox(QStringLiteral("Done."), Dialogs::Style::Plain, AppTitle());
    });
    trap.line(168, [&] { running_ = false; });
}

void BatchConversion::abandon() {
    running_ = false;
    batch_.abandon();
}
