#include "window/PreviewWindow.h"

#include "base/RuntimeError.h"
#include "engine/BatchPaths.h"
#include "engine/ConversionEngine.h"
#include "window/PreviewCanvas.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QThreadPool>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>
#include <functional>

// Where a worker hands its decoded picture over; the window owns it, and a worker holds it only
// weakly, so that a picture decoded after the window closed goes nowhere.
struct PreviewWindow::Inbox {
    std::function<void(unsigned, std::shared_ptr<BgrxImage>, const QString&)> deliver;
};

PreviewWindow::PreviewWindow(QWidget* owner)
    : QWidget(owner, Qt::Window), inbox_(std::make_shared<Inbox>()) {
    setWindowTitle(QStringLiteral("Preview"));
    setFocusPolicy(Qt::StrongFocus);
    values_ = new QLabel(this);
    output_ = new QLabel(this);
    output_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    zoomLabel_ = new QLabel(this);
    fitButton_ = new QPushButton(QStringLiteral("Fit"), this);
    actualButton_ = new QPushButton(QStringLiteral("100 %"), this);
    originalButton_ = new QPushButton(QStringLiteral("Original"), this);
    originalButton_->setCheckable(true);
    for (QPushButton* button : {fitButton_, actualButton_, originalButton_}) {
        button->setFocusPolicy(Qt::NoFocus);
    }
    canvas_ = new PreviewCanvas;
    scroll_ = new QScrollArea(this);
    scroll_->setFocusPolicy(Qt::NoFocus);
    scroll_->setAlignment(Qt::AlignCenter);
    scroll_->setWidget(canvas_);
    scroll_->setWidgetResizable(true);

    auto* bar = new QHBoxLayout;
    bar->addWidget(fitButton_);
    bar->addWidget(actualButton_);
    bar->addWidget(originalButton_);
    bar->addWidget(zoomLabel_);
    bar->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(values_);
    layout->addWidget(output_);
    layout->addLayout(bar);
    layout->addWidget(scroll_, 1);
    resize(900, 640);

    connect(fitButton_, &QPushButton::clicked, this, [this] { setFitsWindow(true); });
    connect(actualButton_, &QPushButton::clicked, this, [this] { setFitsWindow(false); });
    connect(originalButton_, &QPushButton::toggled, this, &PreviewWindow::setShowingOriginal);
    connect(canvas_, &PreviewCanvas::resized, this, &PreviewWindow::showZoom);
    inbox_->deliver = [this](unsigned generation, std::shared_ptr<BgrxImage> picture,
                             const QString& failure) {
        loaded(generation, std::move(picture), failure);
    };
    showLabels();
}

PreviewWindow::~PreviewWindow() = default;

void PreviewWindow::showPicture(const QString& sourcePath) {
    if (sourcePath == sourcePath_ && (picture_ || loading_ || !failure_.isEmpty())) {
        return;  // the same row again: its picture is kept
    }
    sourcePath_ = sourcePath;
    ++generation_;
    picture_.reset();  // one decoded picture at a time
    hasResult_ = false;
    failure_.clear();
    showLabels();
    canvas_->setMessage(sourcePath_.isEmpty() ? QStringLiteral("No picture selected.")
                                              : QStringLiteral("Loading ") +
                                                    GetFileName(sourcePath_) + QStringLiteral("…"));
    if (!sourcePath_.isEmpty() && !loading_) {
        startLoading();
    }
}

void PreviewWindow::startLoading() {
    loading_ = true;
    const unsigned generation = generation_;
    const QString path = sourcePath_;
    std::weak_ptr<Inbox> inbox = inbox_;
    QThreadPool::globalInstance()->start([generation, path, inbox] {
        std::shared_ptr<BgrxImage> picture;
        QString failure;
        try {
            picture = std::make_shared<BgrxImage>(LoadSourcePicture(path));
        } catch (...) {
            failure = QString::fromStdString(RuntimeError::fromCurrentException().description());
        }
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [generation, picture = std::move(picture), failure, inbox]() mutable {
                if (const auto open = inbox.lock()) {
                    open->deliver(generation, std::move(picture), failure);
                }
            },
            Qt::QueuedConnection);
    });
}

void PreviewWindow::loaded(unsigned generation, std::shared_ptr<BgrxImage> picture,
                           const QString& failure) {
    loading_ = false;
    if (generation != generation_) {
        picture.reset();
        if (!sourcePath_.isEmpty()) {
            startLoading();  // the selection moved on meanwhile
        }
        return;
    }
    picture_ = std::move(picture);
    failure_ = failure;
    render();
}

void PreviewWindow::setSettings(const ConversionSettings& settings) {
    const bool refilter = !(settings.thresholds.black == settings_.thresholds.black &&
                            settings.thresholds.gradient == settings_.thresholds.gradient &&
                            settings.thresholds.gray == settings_.thresholds.gray);
    settings_ = settings;
    showLabels();
    if (refilter) {
        scheduleRender();
    }
}

// While a slider is dragged, its moves come faster than the filter: one render per pass of the
// event loop, with the values as they stand then.
void PreviewWindow::scheduleRender() {
    if (renderPending_) {
        return;
    }
    renderPending_ = true;
    QTimer::singleShot(0, this, [this] {
        renderPending_ = false;
        render();
    });
}

void PreviewWindow::render() {
    if (!picture_ && failure_.isEmpty()) {
        return;  // nothing yet: the picture is being decoded
    }
    if (picture_) {
        if (result_.width() != picture_->width() || result_.height() != picture_->height()) {
            result_ = GreyImage(picture_->width(), picture_->height());
        }
        ApplyBlackWhiteFilter(picture_->data(), picture_->stride(), picture_->width(),
                              picture_->height(), settings_.thresholds, result_.data(),
                              result_.stride());
        hasResult_ = true;
    }
    showImage();
    canvas_->repaint();
    emit rendered();
}

void PreviewWindow::showImage() {
    if (!failure_.isEmpty()) {
        canvas_->setMessage(failure_);
    } else if (picture_ && original_) {
        canvas_->setPicture(QImage(picture_->data(), picture_->width(), picture_->height(),
                                   picture_->stride(), QImage::Format_RGB32),
                            fit_);
    } else if (hasResult_) {
        canvas_->setPicture(QImage(result_.data(), result_.width(), result_.height(),
                                   result_.stride(), QImage::Format_Grayscale8),
                            fit_);
    }
    scroll_->setWidgetResizable(fit_);
    showZoom();
}

void PreviewWindow::showZoom() {
    const double zoom = canvas_->zoom();
    zoomLabel_->setText(zoom > 0
                            ? (fit_ ? QStringLiteral("Fit: ") : QString()) +
                                  QString::number(std::lround(zoom * 100)) + QStringLiteral(" %")
                            : QString());
}

void PreviewWindow::showLabels() {
    values_->setText(QStringLiteral("Image Quality %1    Black Filter %2    Gradient Filter %3    "
                                    "Gray Filter %4")
                         .arg(settings_.quality)
                         .arg(settings_.thresholds.black)
                         .arg(settings_.thresholds.gradient)
                         .arg(settings_.thresholds.gray));
    output_->setText(sourcePath_.isEmpty() ? QString()
                                           : QStringLiteral("Output: ") +
                                                 OutputPath(settings_.outputFolder, sourcePath_));
    setWindowTitle(sourcePath_.isEmpty() ? QStringLiteral("Preview")
                                         : QStringLiteral("Preview - ") + GetFileName(sourcePath_));
}

QString PreviewWindow::message() const {
    return canvas_->message();
}

double PreviewWindow::zoom() const {
    return canvas_->zoom();
}

void PreviewWindow::setFitsWindow(bool fit) {
    fit_ = fit;
    showImage();
}

void PreviewWindow::setShowingOriginal(bool original) {
    original_ = original;
    if (originalButton_->isChecked() != original) {
        originalButton_->setChecked(original);
    }
    showImage();
}

void PreviewWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F) {
        setFitsWindow(true);
    } else if (event->key() == Qt::Key_1) {
        setFitsWindow(false);
    } else if (event->key() == Qt::Key_O && !event->isAutoRepeat()) {
        setShowingOriginal(true);
    } else {
        QWidget::keyPressEvent(event);
    }
}

void PreviewWindow::keyReleaseEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_O && !event->isAutoRepeat()) {
        setShowingOriginal(false);
    } else {
        QWidget::keyReleaseEvent(event);
    }
}
