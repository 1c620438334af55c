#include "window/BatchConversion.h"

#include "base/AppTitle.h"
#include "base/Dialogs.h"
#include "base/FileExists.h"
#include "base/TrapLabels.h"
#include "base/WindowPointer.h"
#include "engine/BatchPaths.h"
#include "engine/output/AtomicFile.h"
#include "imagelist/ImageList.h"

#include <optional>

namespace {

// The window's step for the stage of a picture's work that failed.
int stepOf(PictureStage stage) {
    switch (stage) {
        case PictureStage::Start:
            return 134;  // the row read again for the output name; 114 reported the first reading
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

// Whether a picture made with `made` is what `now` would make, as far as its work went before
// `failed` (None: all of it).
bool sameUpTo(PictureStage failed, const ConversionSettings& made, const ConversionSettings& now) {
    switch (failed) {
        case PictureStage::Start:
        case PictureStage::Load:
            return true;
        case PictureStage::Filter:
            return made.thresholds == now.thresholds;
        case PictureStage::Encode:
            return made.thresholds == now.thresholds && made.quality == now.quality;
        case PictureStage::Write:
        case PictureStage::None:
            break;
    }
    return made.thresholds == now.thresholds && made.quality == now.quality &&
           made.outputFolder == now.outputFolder;
}

// A save failure names the file and the system's reason after its own text.
RuntimeError withFileAndReason(const PictureOutcome& outcome) {
    const RuntimeError& failure = outcome.failure;
    if (failure.cause().empty() || (outcome.failedStage != PictureStage::Encode &&
                                    outcome.failedStage != PictureStage::Write)) {
        return failure;
    }
    const std::string where =
        outcome.outputPath.isEmpty() ? std::string() : outcome.outputPath.toStdString() + ": ";
    return RuntimeError(failure.number(),
                        failure.description() + " (" + where + failure.cause() + ")",
                        failure.cause());
}

}  // namespace

BatchConversion::BatchConversion(BatchWindow& window, ImageList& list, WindowPointer& pointer,
                                 Dialogs& dialogs, int workers)
    : window_(window), list_(list), pointer_(pointer), dialogs_(dialogs), batch_(*this, workers) {}

void BatchConversion::PushButton2_Click() {
    if (running_) {  // 100: a second click while a batch runs does nothing
        return;
    }
    trap_ = std::make_shared<Trap>(dialogs_, TrapLabel::PushButton2_Click);
    const std::shared_ptr<Trap> trap = trap_;
    const auto plain = [this](const char* text) {
        dialogs_.messageBox(QString::fromUtf8(text), Dialogs::Style::Plain, AppTitle());
    };
    trap->line(102, [&] { running_ = true; });
    if (trap->test(104, [&] { return list_.RowCount() == 0; })) {
        trap->line(166, [&] { plain("No files added."); });
        trap->line(168, [&] { running_ = false; });
        return;
    }
    if (trap->test(106, [&] { return !FolderExists(window_.outputFolder()); })) {
        trap->line(164, [&] { plain("Folder does not exist. Please select another folder."); });
        trap->line(168, [&] { running_ = false; });
        return;
    }
    int count = 0;
    trap->line(108, [&] {
        settingsChanged();
        RemoveStagedLeftovers(window_.outputFolder());  // what an ended run left half done
        count = list_.RowCount();
        rows_.start();
        turn_ = Turn{};  // the last batch's last turn is not this one's
    });
    batch_.start(count);  // passes 110 to 154, in their turns
}

ConversionSettings BatchConversion::valuesNow() const {
    return {window_.thresholds(), window_.quality(), window_.outputFolder()};
}

// The pass's picture: ahead of its turn from the row and the values as they stand, in its turn
// from what the turn read.
PictureJob BatchConversion::jobFor(int item) {
    PictureJob job;
    if (item == turn_.item) {
        turn_.madeInTurn = true;
        if (!turn_.path) {
            throw turn_.rowFailure.value_or(RuntimeError(ErrorNumber::IndexOutOfBounds, ""));
        }
        job.sourcePath = *turn_.path;
        job.settings = std::make_shared<CurrentSettings>(turn_.values);
        return job;
    }
    const int position = rows_.positionFor(item);
    if (position == 0) {
        throw ImageList::NoRow(item + 1);
    }
    job.sourcePath = list_.RowText(position);
    job.settings = settings_;
    return job;
}

void BatchConversion::settingsChanged() {
    settings_->set(valuesNow());
}

// Steps 110 to 116 of a pass, when its turn comes; the values in force now are the pass's.
void BatchConversion::reached(int item) {
    const std::shared_ptr<Trap> trap = trap_;
    turn_ = Turn{};
    turn_.item = item;
    turn_.values = valuesNow();
    const int position = rows_.take();  // first, so that the passes further on count from it
    trap->line(110, [&] { pointer_.setMode(PointerMode::Hourglass); });
    trap->line(112, [&] {
        const int rows = list_.RowCount();  // now: rows added since the start count
        if (rows == 0) {
            throw RuntimeError(ErrorNumber::DivisionByZero, "Division by zero");
        }
        window_.setProgressValue(100.0 * (item + 1) / rows);
    });
    trap->line(114, [&] {
        try {
            if (position == 0) {
                throw ImageList::NoRow(item + 1);
            }
            turn_.path = list_.RowText(position);
        } catch (...) {
            turn_.rowFailure = RuntimeError::fromCurrentException();
            throw;
        }
        path_ = *turn_.path;
    });
    trap->line(
        116, [&] { window_.setProgressText(QStringLiteral("Processing: ") + GetFileName(path_)); });
}

// In its turn: whether the pass's picture is what the turn read and a save was tried in it. Further
// on: whether it is what the row and the window hold now, a guess that its turn checks.
bool BatchConversion::current(int item, const PictureOutcome& outcome) {
    const PictureStage failed = outcome.failedStage;
    if (item == turn_.item) {
        if (!turn_.path || failed == PictureStage::Start) {
            return !turn_.path && failed == PictureStage::Start;
        }
        return outcome.sourcePath == *turn_.path &&
               sameUpTo(failed, outcome.settings, turn_.values) &&
               (failed != PictureStage::Write || turn_.madeInTurn);
    }
    std::optional<QString> row;
    if (const int position = rows_.positionFor(item); position > 0) {
        row = list_.RowText(position);
    }
    if (failed == PictureStage::Start) {
        return !row;
    }
    const ConversionSettings now = valuesNow();
    if (row == outcome.sourcePath && sameUpTo(failed, outcome.settings, now)) {
        return true;
    }
    settings_->set(now);  // made again with these, even if the window's change went unreported
    return false;
}

void BatchConversion::takeUp(int, PictureOutcome& outcome) {
    if (outcome.failed()) {
        const std::shared_ptr<Trap> trap = trap_;
        trap->line(stepOf(outcome.failedStage), [&] { throw withFileAndReason(outcome); });
    }  // else 152: the file has taken its name
}

void BatchConversion::finished() {
    const std::shared_ptr<Trap> trap = trap_;
    trap->line(156, [&] { pointer_.setMode(PointerMode::Default); });
    trap->line(160, [&] { window_.setProgressValue(0); });
    trap->line(158, [&] { window_.setProgressText(QStringLiteral("Progress Bar")); });
    trap->line(162, [&] {
        dialogs_.messageBox(QStringLiteral("Done."), Dialogs::Style::Plain, AppTitle());
    });
    trap->line(168, [&] { running_ = false; });
    window_.batchEnded();
}

void BatchConversion::abandon() {
    running_ = false;
    if (trap_) {
        trap_->end();  // a step still running in a report's loop is the last
    }
    batch_.abandon();
}
