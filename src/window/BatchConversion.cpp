#include "window/BatchConversion.h"

#include "base/AppTitle.h"
#include "base/Dialogs.h"
#include "base/FileExists.h"
#include "base/TrapLabels.h"
#include "base/WindowPointer.h"
#include "engine/AtomicFile.h"
#include "engine/BatchPaths.h"
#include "engine/JpegWriter.h"
#include "imagelist/ImageList.h"

BatchConversion::BatchConversion(BatchWindow& window, ImageList& list, WindowPointer& pointer,
                                 Dialogs& dialogs, int workers)
    : window_(window),
      list_(list),
      pointer_(pointer),
      dialogs_(dialogs),
      engine_([this](PictureOutcome&& outcome) { onOutcome(std::move(outcome)); }, workers) {}

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
    trap.line(108, [&] {
        settingsChanged();
        RemoveStagedLeftovers(window_.outputFolder());  // what an ended run left half done
        count_ = list_.RowCount();
        next_ = head_ = 1;
        passes_.clear();
        abandoned_ = false;
    });
    startPasses();
    takeUpFinishedPasses();
}

void BatchConversion::startPasses() {
    const int ahead = kJobsAheadPerWorker * engine_.workers();
    while (next_ <= count_ && next_ - head_ < ahead) {
        startPass(next_++);
    }
}

// Steps 110 to 150 of a pass, at the moment it starts. A failure here is kept and reported when
// the pass's turn comes, so that reports stay in list order.
void BatchConversion::startPass(int pass) {
    passes_.emplace_back();
    Pass& p = passes_.back();
    trap_->line(110, [&] { pointer_.setMode(PointerMode::Hourglass); });
    try {
        p.sourcePath = list_.RowText(pass);  // 114: read once; the pass keeps its own name
    } catch (...) {
        p.failedLine = 114;
        p.failure = RuntimeError::fromCurrentException();
        p.finished = true;
        return;
    }
    PictureJob job;
    job.pass = pass;
    job.sourcePath = p.sourcePath;  // 134 to 150 make the output name from it
    job.settings = settings_;
    engine_.submit(std::move(job));
}

void BatchConversion::settingsChanged() {
    settings_->set({window_.thresholds(), window_.quality(), window_.outputFolder()});
}

void BatchConversion::onOutcome(PictureOutcome&& outcome) {
    if (!running_ || outcome.pass < head_ || outcome.pass >= next_) {
        return;
    }
    Pass& p = passAt(outcome.pass);
    p.finished = true;
    p.failedLine = outcome.failedStep;
    p.failure = std::move(outcome.failure);
    p.file = std::move(outcome.file);
    takeUpFinishedPasses();
}

void BatchConversion::takeUpFinishedPasses() {
    if (takingUp_ || !running_) {
        return;  // the loop further up the stack takes this outcome up when its box closes
    }
    takingUp_ = true;
    Trap& trap = *trap_;
    while (head_ <= count_ && !abandoned_) {
        Pass& p = passes_.front();
        if (!p.shown) {
            p.shown = true;
            trap.line(112, [&] {
                const int rows = list_.RowCount();  // now: rows added since the start count
                if (rows == 0) {
                    throw RuntimeError(ErrorNumber::DivisionByZero, "Division by zero");
                }
                window_.setProgressValue(100.0 * head_ / rows);
            });
            trap.line(116, [&] {
                window_.setProgressText(QStringLiteral("Processing: ") + GetFileName(p.sourcePath));
            });
        }
        if (!p.finished) {
            break;
        }
        if (p.failedLine != 0) {
            trap.line(p.failedLine, [&] { throw p.failure; });
        } else {
            trap.line(152, [&] { CommitOutputFile(*p.file); });
        }
        if (abandoned_) {
            break;  // the window closed while the report was shown
        }
        passes_.pop_front();
        ++head_;
        startPasses();
    }
    takingUp_ = false;
    if (abandoned_) {
        passes_.clear();
    } else if (head_ > count_) {
        finish();
    }
}

void BatchConversion::finish() {
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
    abandoned_ = true;
    running_ = false;
    engine_.abandon();
    if (!takingUp_) {
        passes_.clear();
    }
}
