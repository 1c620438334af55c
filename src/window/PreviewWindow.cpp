#include "window/PreviewWindow.h"

#include "base/RuntimeError.h"
#include "base/SettingsStore.h"
#include "engine/BatchPaths.h"
#include "window/PreviewCanvas.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

const QString kSection = QStringLiteral("Preview");
const QString kGeometryKey = QStringLiteral("Geometry");
const QString kZoomKey = QStringLiteral("Zoom");  // "Fit", or screen pixels per picture pixel
constexpr int kLeastWidth = 360;                  // beside the main window, at the least
constexpr int kLeastHeight = 200;                 // over the list, at the least
constexpr QSize kFirstSize(900, 640);

// The picture as a QImage that keeps it alive for as long as any copy of the QImage lives: the
// canvas may paint it after this window has let go of it.
template <class Picture>
QImage wrapped(const std::shared_ptr<const Picture>& picture, QImage::Format format) {
    if (!picture) {
        return {};
    }
    auto* kept = new std::shared_ptr<const Picture>(picture);
    return QImage(
        picture->data(), picture->width(), picture->height(), picture->stride(), format,
        [](void* held) { delete static_cast<std::shared_ptr<const Picture>*>(held); }, kept);
}

// "about 5.7 MB", in the decimal units file managers show.
QString aboutSize(std::uint64_t bytes) {
    if (bytes < 1000 * 1000) {
        return QStringLiteral("about %1 KB").arg(std::max<std::uint64_t>(1, (bytes + 500) / 1000));
    }
    return QStringLiteral("about %1 MB").arg(double(bytes) / 1e6, 0, 'f', 1);
}

}  // namespace

PreviewWindow::PreviewWindow(QWidget* owner, SettingsStore& settings,
                             std::shared_ptr<MemoryBudget> budget)
    : QWidget(owner, Qt::Window), settings_(settings) {
    setWindowTitle(QStringLiteral("Preview"));
    setFocusPolicy(Qt::StrongFocus);
    values_ = new QLabel(this);
    output_ = new QLabel(this);
    output_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    zoomLabel_ = new QLabel(this);
    sizeLabel_ = new QLabel(this);
    statusLabel_ = new QLabel(this);
    fitButton_ = new QPushButton(QStringLiteral("Fit"), this);
    actualButton_ = new QPushButton(QStringLiteral("100 %"), this);
    originalButton_ = new QPushButton(QStringLiteral("Original"), this);
    originalButton_->setCheckable(true);
    splitButton_ = new QPushButton(QStringLiteral("Split"), this);
    splitButton_->setCheckable(true);
    for (QPushButton* button : {fitButton_, actualButton_, originalButton_, splitButton_}) {
        button->setFocusPolicy(Qt::NoFocus);
    }
    // Labels may be cut short, so that the window can be as narrow as its buttons.
    for (QLabel* label : {values_, output_, statusLabel_}) {
        label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    }
    canvas_ = new PreviewCanvas(this);
    work_ = new PreviewWork(std::move(budget), this);

    auto* bar = new QHBoxLayout;
    for (QWidget* item : std::initializer_list<QWidget*>{fitButton_, actualButton_, originalButton_,
                                                         splitButton_, zoomLabel_}) {
        bar->addWidget(item);
    }
    bar->addStretch();
    auto* status = new QHBoxLayout;
    status->addWidget(sizeLabel_);
    status->addWidget(statusLabel_, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(values_);
    layout->addWidget(output_);
    layout->addLayout(bar);
    layout->addLayout(status);
    layout->addWidget(canvas_, 1);
    resize(kFirstSize);

    connect(fitButton_, &QPushButton::clicked, this, [this] { setFitsWindow(true); });
    connect(actualButton_, &QPushButton::clicked, this, [this] { setFitsWindow(false); });
    connect(originalButton_, &QPushButton::toggled, this, &PreviewWindow::setShowingOriginal);
    connect(splitButton_, &QPushButton::toggled, this, &PreviewWindow::setSplit);
    connect(canvas_, &PreviewCanvas::viewChanged, this, [this] {
        showZoom();
        ask();
    });
    connect(work_, &PreviewWork::made, this, &PreviewWindow::made);
    showLabels();
}

PreviewWindow::~PreviewWindow() = default;

const GreyImage* PreviewWindow::result() const {
    return whole_ && wholeFor_.sameResult(wanted()) ? whole_.get() : nullptr;
}

void PreviewWindow::showPicture(const QString& sourcePath) {
    if (sourcePath == sourcePath_) {
        return;  // the same row again: what was made for it is kept
    }
    // A picture opens fitted, or at the zoom it was left at earlier in this run.
    if (!sourcePath_.isEmpty()) {
        if (canvas_->fits()) {
            zoomOf_.remove(sourcePath_);
        } else {
            zoomOf_.insert(sourcePath_, canvas_->chosenZoom());
        }
    }
    sourcePath_ = sourcePath;
    letGo();
    if (const auto zoom = zoomOf_.constFind(sourcePath_); zoom != zoomOf_.cend()) {
        canvas_->setZoom(*zoom);
    } else if (!canvas_->fits()) {
        canvas_->setFit();
    }
    showLabels();
    ask();
}

void PreviewWindow::setSettings(const ConversionSettings& settings) {
    conversion_ = settings;
    showLabels();
    ask();
}

// What the window needs now: the picture with the current values, and at a zoom that shows
// little of it, the part on screen first.
PreviewRequest PreviewWindow::wanted() const {
    PreviewRequest request;
    request.path = sourcePath_;
    request.thresholds = conversion_.thresholds;
    request.quality = conversion_.quality;
    if (!canvas_->fits()) {
        const QRect part = canvas_->visiblePart();
        if (qint64(part.width()) * part.height() * 2 < qint64(size_.width()) * size_.height()) {
            request.part = part;
        }
    }
    return request;
}

void PreviewWindow::ask() {
    if (!isVisible() || isMinimized()) {
        return;  // a closed or minimised preview does no work
    }
    const PreviewRequest request = wanted();
    if (request.sameResult(asked_) && request.part == asked_.part) {
        return;
    }
    const bool sameResult = request.sameResult(asked_);
    asked_ = request;
    if (!sameResult && part_) {
        part_.reset();  // a part for other values
        canvas_->setPart(QImage(), QPoint());
    }
    if (sameResult && result() != nullptr) {
        return;  // the whole is there: no part is needed
    }
    work_->request(request);
    showLabels();
}

void PreviewWindow::made(const PreviewFrame& frame) {
    if (frame.request.path != sourcePath_ || !isVisible()) {
        return;  // for a picture no longer shown
    }
    switch (frame.kind) {
        case PreviewFrame::Kind::QuickLook:
            if (!look_ || reduced_) {  // a later look shows more rows
                look_ = frame.original;
                reduced_ = true;
                lookRows_ = frame.lookRows;
                size_ = frame.size;
            }
            break;
        case PreviewFrame::Kind::Original:
            look_ = frame.original;
            reduced_ = false;
            size_ = frame.size;
            break;
        case PreviewFrame::Kind::Part:
            if (!frame.request.sameResult(asked_)) {
                return;
            }
            part_ = frame.result;
            partAt_ = frame.part;
            break;
        case PreviewFrame::Kind::Whole:
            whole_ = frame.result;
            wholeFor_ = frame.request;
            fileBytes_ = frame.fileBytes;
            sizeComing_ = frame.sizeFollows;
            part_.reset();
            size_ = QSize(whole_->width(), whole_->height());
            break;
        case PreviewFrame::Kind::FileSize:
            if (!whole_ || !frame.request.sameResult(wholeFor_)) {
                return;
            }
            fileBytes_ = frame.fileBytes;
            sizeComing_ = frame.sizeFollows;
            showLabels();
            if (result() != nullptr && !sizeComing_) {
                emit rendered();
            }
            return;
        case PreviewFrame::Kind::Failure:
            failure_ = frame.failure;
            break;
        case PreviewFrame::Kind::LetGo:
            letGo();
            canvas_->setMessage(QStringLiteral(
                "The conversion needs the memory this picture took; it comes back when the "
                "conversion has finished, or when a value changes and there is room."));
            asked_ = frame.request;  // asked again already, by the work itself
            return;
    }
    showPictures();
    const bool whole = frame.kind == PreviewFrame::Kind::Whole && result() != nullptr;
    if (whole || frame.kind == PreviewFrame::Kind::Part) {
        canvas_->viewport()->repaint();
        emit shownExact();
    }
    if ((whole && !sizeComing_) || frame.kind == PreviewFrame::Kind::Failure) {
        emit rendered();
    }
}

void PreviewWindow::letGo() {
    look_.reset();
    lookShown_ = QImage();
    lookShownOf_ = nullptr;
    whole_.reset();
    part_.reset();
    reduced_ = false;
    lookRows_ = 0;
    size_ = QSize();
    fileBytes_ = 0;
    sizeComing_ = false;
    failure_.clear();
    asked_ = PreviewRequest{};
    canvas_->setMessage(sourcePath_.isEmpty() ? QStringLiteral("No picture selected.")
                                              : QStringLiteral("Loading ") +
                                                    GetFileName(sourcePath_) + QStringLiteral("…"));
    showZoom();  // no zoom while nothing is shown
}

void PreviewWindow::showPictures() {
    if (!failure_.isEmpty()) {
        canvas_->setMessage(failure_);
    } else if (look_ || whole_) {
        if (look_.get() != lookShownOf_ || lookRows_ != lookShownRows_) {
            lookShown_ = wrapped(look_, QImage::Format_RGB32);
            lookShownOf_ = look_.get();
            lookShownRows_ = lookRows_;
        }
        QImage look = lookShown_;
        if (reduced_ && lookRows_ > 0 && lookRows_ < look.height()) {
            // The rows not decoded yet show the background, as the picture's surround does.
            look = look.copy();
            const QColor background = canvas_->palette().window().color();
            for (int y = lookRows_; y < look.height(); ++y) {
                std::fill_n(reinterpret_cast<QRgb*>(look.scanLine(y)), look.width(),
                            background.rgb());
            }
        }
        canvas_->setPictures(wrapped(whole_, QImage::Format_Grayscale8), look, size_);
        if (part_) {
            canvas_->setPart(wrapped(part_, QImage::Format_Grayscale8), partAt_.topLeft());
        }
    }
    showLabels();
    showZoom();
}

void PreviewWindow::showZoom() {
    const double zoom = canvas_->zoom();
    zoomLabel_->setText(zoom > 0
                            ? (canvas_->fits() ? QStringLiteral("Fit: ") : QString()) +
                                  QString::number(std::lround(zoom * 100)) + QStringLiteral(" %")
                            : QString());
}

QString PreviewWindow::status() const {
    return statusLabel_->text();
}

void PreviewWindow::showLabels() {
    values_->setText(QStringLiteral("Image Quality %1    Black Filter %2    Gradient Filter %3    "
                                    "Gray Filter %4")
                         .arg(conversion_.quality)
                         .arg(conversion_.thresholds.black)
                         .arg(conversion_.thresholds.gradient)
                         .arg(conversion_.thresholds.gray));
    // The same file as the batch's path names, with one slash after a folder typed with its own.
    QString folder = conversion_.outputFolder;
    while (folder.endsWith(QLatin1Char('/'))) {
        folder.chop(1);
    }
    output_->setText(sourcePath_.isEmpty()
                         ? QString()
                         : QStringLiteral("Output: ") + OutputPath(folder, sourcePath_));
    setWindowTitle(sourcePath_.isEmpty() ? QStringLiteral("Preview")
                                         : QStringLiteral("Preview - ") + GetFileName(sourcePath_));
    const bool exact = result() != nullptr;
    sizeLabel_->setText(whole_ && fileBytes_ > 0 ? QStringLiteral("File: ") + aboutSize(fileBytes_)
                                                 : QString());
    statusLabel_->setText(!failure_.isEmpty() || sourcePath_.isEmpty() || exact ? QString()
                          : reduced_ && !whole_
                              ? QStringLiteral("Original, reduced: making the result…")
                              : QStringLiteral("Making the result…"));
}

QString PreviewWindow::message() const {
    return canvas_->message();
}

bool PreviewWindow::fitsWindow() const {
    return canvas_->fits();
}

double PreviewWindow::zoom() const {
    return canvas_->zoom();
}

void PreviewWindow::setFitsWindow(bool fit) {
    if (fit) {
        canvas_->setFit();
        return;
    }
    // 100 % around the picture point under the pointer, or the one in the middle of the view.
    const QPoint pointer = canvas_->viewport()->mapFromGlobal(QCursor::pos());
    canvas_->setZoom(1, canvas_->viewport()->rect().contains(pointer) ? canvas_->pictureAt(pointer)
                                                                      : std::nullopt);
}

void PreviewWindow::setShowingOriginal(bool original) {
    original_ = original;
    if (originalButton_->isChecked() != original) {
        originalButton_->setChecked(original);
    }
    showCanvasMode();
}

void PreviewWindow::setSplit(bool split) {
    split_ = split;
    if (splitButton_->isChecked() != split) {
        splitButton_->setChecked(split);
    }
    showCanvasMode();
}

void PreviewWindow::showCanvasMode() {
    canvas_->setShow(original_ ? PreviewCanvas::Show::Original
                     : split_  ? PreviewCanvas::Show::Split
                               : PreviewCanvas::Show::Result);
}

void PreviewWindow::zoomStep(int steps) {
    const QPoint pointer = canvas_->viewport()->mapFromGlobal(QCursor::pos());
    canvas_->zoomStep(steps, canvas_->viewport()->rect().contains(pointer)
                                 ? pointer
                                 : canvas_->viewport()->rect().center());
}

void PreviewWindow::keyPressEvent(QKeyEvent* event) {
    const bool control = event->modifiers() & Qt::ControlModifier;
    if (event->key() == Qt::Key_F) {
        setFitsWindow(true);
    } else if (event->key() == Qt::Key_1) {
        setFitsWindow(false);
    } else if (event->key() == Qt::Key_O && !event->isAutoRepeat()) {
        setShowingOriginal(true);
    } else if (event->key() == Qt::Key_S && !event->isAutoRepeat()) {
        setSplit(!split_);
    } else if (control && (event->key() == Qt::Key_Plus || event->key() == Qt::Key_Equal)) {
        zoomStep(1);
    } else if (control && event->key() == Qt::Key_Minus) {
        zoomStep(-1);
    } else if (event->key() == Qt::Key_Escape) {
        close();
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

void PreviewWindow::showEvent(QShowEvent* event) {
    if (!placed_) {
        placed_ = true;
        placeBesideOwner();
    }
    QWidget::showEvent(event);
    ask();
}

void PreviewWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) {
        ask();  // back from minimised: what moved meanwhile
    }
}

void PreviewWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (event->spontaneous()) {
        return;  // minimised: the pictures stay for when it comes back
    }
    remember();
    // Closed, it holds nothing: the work lets its pictures go too.
    work_->request(PreviewRequest{});
    const QString path = sourcePath_;
    sourcePath_.clear();
    letGo();
    sourcePath_ = path;
}

void PreviewWindow::setOwnerPlace(const QRect& frame, const QRect& mayCover) {
    ownerFrame_ = frame;
    mayCover_ = mayCover;
}

// Where it was last, or on first use beside the main window on the side with more room; on a
// screen too small for that, over the part of the main window it may cover (the list) and what
// lies beside it, clear of the sliders and "Start Converting"; failing that, beside it however
// narrow.
void PreviewWindow::placeBesideOwner() {
    const QByteArray stored =
        QByteArray::fromBase64(settings_.readIn(kSection, kGeometryKey, QString()).toLatin1());
    if (!stored.isEmpty() && restoreGeometry(stored)) {
        return;
    }
    QScreen* screen =
        parentWidget() != nullptr ? parentWidget()->screen() : QGuiApplication::primaryScreen();
    if (ownerFrame_.isEmpty() || screen == nullptr) {
        return;
    }
    const QRect room = screen->availableGeometry();
    const QRect main = ownerFrame_;
    const int right = room.right() - main.right();
    const int left = main.left() - room.left();
    const int height = std::min(kFirstSize.height(), room.height());
    const int top =
        std::clamp(main.top(), room.top(), std::max(room.top(), room.bottom() - height));
    const int beside = std::min(kFirstSize.width(), std::max(left, right));
    const int besideX = right >= left ? main.right() + 1 : main.left() - beside;
    const int overBottom = mayCover_.isEmpty() ? room.top() : mayCover_.bottom();
    if (beside < kLeastWidth && overBottom - room.top() >= kLeastHeight) {
        setGeometry(room.left(), room.top(), std::min(kFirstSize.width(), room.width()),
                    overBottom - room.top());
        return;
    }
    setGeometry(besideX, top, std::max(1, beside), height);
}

void PreviewWindow::remember() {
    try {
        settings_.writeIn(kSection, kGeometryKey, QString::fromLatin1(saveGeometry().toBase64()));
        settings_.writeIn(
            kSection, kZoomKey,
            canvas_->fits() ? QStringLiteral("Fit") : QString::number(canvas_->chosenZoom()));
    } catch (const RuntimeError& e) {
        // A store that cannot be written costs the place, not the window.
        qWarning("%s", e.description().c_str());
    }
}
