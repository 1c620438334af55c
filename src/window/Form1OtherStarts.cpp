// Files that later starts of the program hand to the window that runs (OneWindow).
#include "window/Form1.h"

#include <QApplication>
#include <QTimer>

namespace {
// How often the handed files look again for their turn while a box or a walk holds it (ms).
constexpr int kRetryMs = 100;
}  // namespace

void Form1::takeFilesFromAnotherStart(const QStringList& paths) {
    // 1. Show the window over the others, also when it was minimised.
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
    // 2. The files wait their turn behind those handed before.
    if (!paths.isEmpty()) {
        handedFiles_.push_back(paths);
        addHandedFiles();
    }
}

void Form1::addHandedFiles() {
    // 1. While a box waits for an answer (its refusals would open another over it) or a walk
    //    adds files, look again shortly.
    if (QApplication::activeModalWidget() != nullptr || adding_ || closing_) {
        if (handedRetry_ == nullptr) {
            handedRetry_ = new QTimer(this);
            handedRetry_->setSingleShot(true);
            connect(handedRetry_, &QTimer::timeout, this, &Form1::addHandedFiles);
        }
        if (!closing_) {
            handedRetry_->start(kRetryMs);
        }
        return;
    }
    // 2. Add them as a drop, one start's files at a time.
    const QStringList paths = handedFiles_.front();
    handedFiles_.pop_front();
    addFiles(paths);
    if (!handedFiles_.empty()) {
        addHandedFiles();
    }
}
