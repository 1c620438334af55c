#include "window/PreviewCanvas.h"

#include <QMouseEvent>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

// `picture` averaged over blocks of factor × factor pixels (those at the right and bottom edges
// over what they hold): a faithful small picture of fine lines. Rows are summed first, a loop the
// compiler vectorises, then the columns of each block.
QImage averageDown(const QImage& picture, int factor) {
    const int channels = picture.format() == QImage::Format_Grayscale8 ? 1 : 4;
    const int width = (picture.width() + factor - 1) / factor;
    const int height = (picture.height() + factor - 1) / factor;
    const int bytes = picture.width() * channels;
    QImage out(width, height, picture.format());
    std::vector<std::uint32_t> column(static_cast<std::size_t>(bytes));
    for (int y = 0; y < height; ++y) {
        std::fill(column.begin(), column.end(), 0u);
        const int top = y * factor;
        const int rows = std::min(factor, picture.height() - top);
        for (int r = 0; r < rows; ++r) {
            const uchar* line = picture.constScanLine(top + r);
            for (int i = 0; i < bytes; ++i) {
                column[static_cast<std::size_t>(i)] += line[i];
            }
        }
        uchar* outLine = out.scanLine(y);
        for (int x = 0; x < width; ++x) {
            const int left = x * factor;
            const int columns = std::min(factor, picture.width() - left);
            const std::uint32_t count = static_cast<std::uint32_t>(rows * columns);
            for (int c = 0; c < channels; ++c) {
                std::uint32_t sum = 0;
                for (int k = 0; k < columns; ++k) {
                    sum += column[static_cast<std::size_t>((left + k) * channels + c)];
                }
                outLine[x * channels + c] = static_cast<uchar>((sum + count / 2) / count);
            }
        }
    }
    return out;
}

QScrollArea* scrollAreaOf(QWidget* canvas) {
    QWidget* viewport = canvas->parentWidget();
    return viewport != nullptr ? qobject_cast<QScrollArea*>(viewport->parentWidget()) : nullptr;
}

}  // namespace

PreviewCanvas::PreviewCanvas(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::NoFocus);
}

void PreviewCanvas::setPicture(const QImage& picture, bool fit) {
    picture_ = picture;
    fit_ = fit;
    message_.clear();
    if (!fit_ && !picture_.isNull()) {
        resize(picture_.size());
    }
    shrink();
    update();
}

void PreviewCanvas::setMessage(const QString& message) {
    message_ = message;
    picture_ = QImage();
    shrunk_ = QImage();
    update();
}

double PreviewCanvas::zoom() const {
    if (picture_.isNull()) {
        return 0;
    }
    if (!fit_) {
        return 1;
    }
    return std::min(
        {1.0, double(width()) / picture_.width(), double(height()) / picture_.height()});
}

void PreviewCanvas::shrink() {
    shrunk_ = QImage();
    const double scale = zoom();
    if (!fit_ || picture_.isNull() || scale <= 0 || scale >= 0.5) {
        return;
    }
    shrunk_ = averageDown(picture_, static_cast<int>(1.0 / scale));
}

void PreviewCanvas::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    shrink();
    emit resized();
}

void PreviewCanvas::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.fillRect(event->rect(), palette().window());
    if (picture_.isNull()) {
        painter.drawText(rect().adjusted(12, 12, -12, -12), Qt::AlignCenter | Qt::TextWordWrap,
                         message_);
        return;
    }
    if (!fit_) {
        painter.drawImage(event->rect(), picture_, event->rect());
        return;
    }
    const QSize shown = picture_.size() * zoom();
    const QRect target(QPoint((width() - shown.width()) / 2, (height() - shown.height()) / 2),
                       shown);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, shrunk_.isNull() ? picture_ : shrunk_);
}

void PreviewCanvas::mousePressEvent(QMouseEvent* event) {
    dragFrom_ = event->globalPosition().toPoint();
}

void PreviewCanvas::mouseMoveEvent(QMouseEvent* event) {
    QScrollArea* area = scrollAreaOf(this);
    if (fit_ || area == nullptr || !(event->buttons() & Qt::LeftButton)) {
        return;
    }
    const QPoint now = event->globalPosition().toPoint();
    const QPoint moved = now - dragFrom_;
    dragFrom_ = now;
    area->horizontalScrollBar()->setValue(area->horizontalScrollBar()->value() - moved.x());
    area->verticalScrollBar()->setValue(area->verticalScrollBar()->value() - moved.y());
}
