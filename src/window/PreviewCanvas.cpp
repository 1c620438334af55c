#include "window/PreviewCanvas.h"

#include "window/AverageDown.h"

#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {

constexpr double kZoomSteps[] = {1.0 / 16, 1.0 / 12, 1.0 / 8, 1.0 / 6, 1.0 / 4, 1.0 / 3, 1.0 / 2,
                                 2.0 / 3,  1,        1.5,     2,       3,       4};
constexpr double kMostZoom = 4;
constexpr int kDividerGrip = 6;  // screen pixels either side of the divider that grab it

}  // namespace

PreviewCanvas::PreviewCanvas(QWidget* parent) : QAbstractScrollArea(parent) {
    setFocusPolicy(Qt::NoFocus);
    setFrameShape(QFrame::NoFrame);
    viewport()->setMouseTracking(true);  // the divider's pointer shape
}

void PreviewCanvas::setPictures(const QImage& result, const QImage& original, QSize size) {
    result_ = result;
    original_ = original;
    part_ = QImage();
    message_.clear();
    const bool resized = size != size_;
    size_ = size;
    if (resized && !fit_) {
        setZoom(zoom_, QPointF(size_.width() / 2.0, size_.height() / 2.0));  // a new picture
        return;
    }
    updateBars();
    viewport()->update();
}

void PreviewCanvas::setPart(const QImage& part, QPoint at) {
    part_ = part;
    partAt_ = at;
    viewport()->update();
}

void PreviewCanvas::setMessage(const QString& message) {
    message_ = message;
    result_ = original_ = part_ = QImage();
    size_ = QSize();
    updateBars();
    viewport()->update();
}

void PreviewCanvas::setShow(Show show) {
    show_ = show;
    viewport()->update();
}

void PreviewCanvas::setDivider(double fraction) {
    divider_ = std::clamp(fraction, 0.0, 1.0);
    viewport()->update();
}

double PreviewCanvas::fittedZoom() const {
    if (size_.isEmpty()) {
        return 0;
    }
    return std::min({1.0, double(viewport()->width()) / size_.width(),
                     double(viewport()->height()) / size_.height()});
}

double PreviewCanvas::zoom() const {
    return size_.isEmpty() ? 0 : fit_ ? fittedZoom() : zoom_;
}

void PreviewCanvas::setFit() {
    fit_ = true;
    updateBars();
    viewport()->update();
    emit viewChanged();
}

void PreviewCanvas::setZoom(double zoom, std::optional<QPointF> centre) {
    fit_ = false;
    if (size_.isEmpty()) {
        zoom_ = std::clamp(zoom, kZoomSteps[0], kMostZoom);  // for the next picture
        return;
    }
    if (!centre) {
        centre = pictureAt(viewport()->rect().center());
    }
    const QPointF middle = centre.value_or(QPointF(size_.width() / 2.0, size_.height() / 2.0));
    zoom_ = std::clamp(zoom, std::min(fittedZoom(), 1.0), kMostZoom);
    updateBars();
    horizontalScrollBar()->setValue(std::lround(middle.x() * zoom_ - viewport()->width() / 2.0));
    verticalScrollBar()->setValue(std::lround(middle.y() * zoom_ - viewport()->height() / 2.0));
    viewport()->update();
    emit viewChanged();
}

void PreviewCanvas::zoomStep(int steps, QPoint anchor) {
    const double now = zoom();
    if (now <= 0 || steps == 0) {
        return;
    }
    double next = steps > 0 ? kMostZoom : 0;
    for (const double step : kZoomSteps) {
        // A step less than a tenth away (from a fitted size just below it) is no step.
        if (steps > 0 && step > now * 1.1) {
            next = step;
            break;
        }
        if (steps < 0 && step < now / 1.1) {
            next = step;
        }
    }
    if (next < fittedZoom() * 0.999) {
        setFit();
        return;
    }
    const QPointF point = (QPointF(anchor) - origin()) / now;
    fit_ = false;
    zoom_ = next;
    updateBars();
    horizontalScrollBar()->setValue(std::lround(point.x() * zoom_ - anchor.x()));
    verticalScrollBar()->setValue(std::lround(point.y() * zoom_ - anchor.y()));
    viewport()->update();
    emit viewChanged();
}

QPointF PreviewCanvas::origin() const {
    const double z = zoom();
    const double width = size_.width() * z, height = size_.height() * z;
    const QSize view = viewport()->size();
    return {width <= view.width() ? (view.width() - width) / 2 : -horizontalScrollBar()->value(),
            height <= view.height() ? (view.height() - height) / 2 : -verticalScrollBar()->value()};
}

std::optional<QPointF> PreviewCanvas::pictureAt(QPoint viewPoint) const {
    const double z = zoom();
    if (z <= 0) {
        return std::nullopt;
    }
    const QPointF at = (QPointF(viewPoint) - origin()) / z;
    if (at.x() < 0 || at.y() < 0 || at.x() >= size_.width() || at.y() >= size_.height()) {
        return std::nullopt;
    }
    return at;
}

QRect PreviewCanvas::visiblePart() const {
    const double z = zoom();
    if (z <= 0) {
        return {};
    }
    const QPointF o = origin();
    const int left = std::max(0, int(std::floor(-o.x() / z)));
    const int top = std::max(0, int(std::floor(-o.y() / z)));
    const int right = std::min(size_.width(), int(std::ceil((viewport()->width() - o.x()) / z)));
    const int bottom = std::min(size_.height(), int(std::ceil((viewport()->height() - o.y()) / z)));
    return right > left && bottom > top ? QRect(left, top, right - left, bottom - top) : QRect();
}

void PreviewCanvas::updateBars() {
    const double z = zoom();
    const QSize view = viewport()->size();
    const int width = fit_ ? 0 : int(std::ceil(size_.width() * z));
    const int height = fit_ ? 0 : int(std::ceil(size_.height() * z));
    horizontalScrollBar()->setRange(0, std::max(0, width - view.width()));
    horizontalScrollBar()->setPageStep(view.width());
    horizontalScrollBar()->setSingleStep(24);
    verticalScrollBar()->setRange(0, std::max(0, height - view.height()));
    verticalScrollBar()->setPageStep(view.height());
    verticalScrollBar()->setSingleStep(24);
}

int PreviewCanvas::dividerX() const {
    return int(std::lround(origin().x() + divider_ * size_.width() * zoom()));
}

const QImage& PreviewCanvas::shrunk(const QImage& image, int factor) {
    Shrunk& slot = shrunk_[image.format() == QImage::Format_Grayscale8 ? 0 : 1];
    if (slot.key != image.cacheKey() || slot.factor != factor) {
        slot = {image.cacheKey(), factor, AverageDown(image, factor)};
    }
    return slot.image;
}

// Draws `image` over the picture's rectangle, within `clip` (view coordinates): from 100 % up
// pixel for pixel, each a square; below, averaged down first so that fine lines stay visible.
void PreviewCanvas::paintPicture(QPainter& painter, const QImage& image, const QRect& clip) {
    if (image.isNull()) {
        return;
    }
    painter.save();
    painter.setClipRect(clip);
    const double z = zoom();
    const QPointF o = origin();
    const QRectF target(o, QSizeF(size_) * z);
    if (image.size() != size_) {  // a reduced copy
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(target, image);
    } else if (z >= 1) {
        const QRect part = visiblePart();
        painter.drawImage(QRectF(o + QPointF(part.topLeft()) * z, QSizeF(part.size()) * z), image,
                          part);
    } else {
        const int factor = int(1.0 / z);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(target, factor >= 2 ? shrunk(image, factor) : image);
    }
    if (&image == &result_ || (result_.isNull() && &image == &original_)) {
        if (!part_.isNull()) {
            painter.setRenderHint(QPainter::SmoothPixmapTransform, z < 1);
            painter.drawImage(QRectF(o + QPointF(partAt_) * z, QSizeF(part_.size()) * z), part_);
        }
    }
    painter.restore();
}

void PreviewCanvas::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    const QRect view = viewport()->rect();
    painter.fillRect(view, palette().window());
    if (size_.isEmpty() || (result_.isNull() && original_.isNull())) {
        painter.drawText(view.adjusted(12, 12, -12, -12), Qt::AlignCenter | Qt::TextWordWrap,
                         message_);
        return;
    }
    const QImage& result = result_.isNull() ? original_ : result_;
    const QImage& original = original_.isNull() ? result_ : original_;
    if (show_ == Show::Result) {
        paintPicture(painter, result, view);
    } else if (show_ == Show::Original) {
        paintPicture(painter, original, view);
    } else {
        const int x = dividerX();
        paintPicture(painter, original,
                     QRect(view.left(), view.top(), x - view.left(), view.height()));
        paintPicture(painter, result, QRect(x, view.top(), view.right() - x + 1, view.height()));
        painter.setPen(QPen(palette().highlight(), 2));
        painter.drawLine(x, view.top(), x, view.bottom());
    }
}

void PreviewCanvas::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    updateBars();
    emit viewChanged();
}

void PreviewCanvas::scrollContentsBy(int, int) {
    viewport()->update();
    emit viewChanged();
}

// A wheel's notch is 120; a touchpad sends the same in smaller pieces, summed here.
void PreviewCanvas::wheelEvent(QWheelEvent* event) {
    constexpr int kNotch = 120;
    wheel_ += event->angleDelta().y();
    for (; std::abs(wheel_) >= kNotch; wheel_ -= wheel_ > 0 ? kNotch : -kNotch) {
        zoomStep(wheel_ > 0 ? 1 : -1, event->position().toPoint());
    }
    event->accept();
}

void PreviewCanvas::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        return;
    }
    const QPoint at = event->position().toPoint();
    drag_ = show_ == Show::Split && std::abs(at.x() - dividerX()) <= kDividerGrip ? Drag::Divider
                                                                                  : Drag::Pan;
    dragFrom_ = at;
}

void PreviewCanvas::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    if (drag_ == Drag::Divider) {
        const double width = size_.width() * zoom();
        setDivider(width > 0 ? (at.x() - origin().x()) / width : 0.5);
    } else if (drag_ == Drag::Pan) {
        const QPoint moved = at - dragFrom_;
        horizontalScrollBar()->setValue(horizontalScrollBar()->value() - moved.x());
        verticalScrollBar()->setValue(verticalScrollBar()->value() - moved.y());
    }
    dragFrom_ = at;
    const bool onDivider =
        show_ == Show::Split && !size_.isEmpty() && std::abs(at.x() - dividerX()) <= kDividerGrip;
    viewport()->setCursor(onDivider || drag_ == Drag::Divider ? Qt::SplitHCursor : Qt::ArrowCursor);
}

void PreviewCanvas::mouseReleaseEvent(QMouseEvent*) {
    drag_ = Drag::None;
}
