#pragma once

#include <QAbstractScrollArea>
#include <QImage>
#include <QPoint>
#include <QString>

#include <optional>

// Where the preview paints a picture: fitted to the view, or at a zoom from the fitted size to
// 400 %, panned by dragging or with the scroll bars, which show whenever the picture is larger
// than the view. It shows the result, the original, or both split by a divider dragged across
// the picture. Positions in the picture are in the result's pixels; the original is drawn over
// the same rectangle (a reduced copy scaled up to it), so that under the divider the two are
// the same pixels of the picture. Or a message in the picture's place.
class PreviewCanvas : public QAbstractScrollArea {
    Q_OBJECT
  public:
    enum class Show { Result, Original, Split };

    explicit PreviewCanvas(QWidget* parent = nullptr);

    // The result (null while there is none: the original shows alone) and the original (null
    // while there is none; smaller when it is a reduced copy) of a picture of `size` pixels.
    // Kept by reference count, not copied. Clears the part.
    void setPictures(const QImage& result, const QImage& original, QSize size);
    // Exact pixels of the result at `at`, painted over the result until the next setPictures.
    void setPart(const QImage& part, QPoint at);
    void setMessage(const QString& message);
    const QString& message() const { return message_; }
    QSize pictureSize() const { return size_; }

    void setShow(Show show);
    Show show() const { return show_; }
    // The divider's place, a fraction of the picture's width from its left.
    double divider() const { return divider_; }
    void setDivider(double fraction);

    bool fits() const { return fit_; }
    void setFit();
    // Screen pixels per picture pixel, as shown; 0 with no picture.
    double zoom() const;
    // The zoom chosen (kept for the next picture too); 0 when fitted.
    double chosenZoom() const { return fit_ ? 0 : zoom_; }
    // The zoom, the picture point `centre` in the middle of the view (or kept where it is).
    void setZoom(double zoom, std::optional<QPointF> centre = std::nullopt);
    // The next zoom step up (steps > 0) or down, keeping the picture point under `anchor` (a
    // point of the view) where it is; below the fitted size, fitted.
    void zoomStep(int steps, QPoint anchor);
    // The picture point under a point of the view, or none when the point is off the picture.
    std::optional<QPointF> pictureAt(QPoint viewPoint) const;
    // The picture's pixels in view; empty with no picture.
    QRect visiblePart() const;

  signals:
    // The zoom, the part in view or the view's size changed.
    void viewChanged();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    double fittedZoom() const;
    QPointF origin() const;  // where the picture's top left lies in the view
    void updateBars();
    void paintPicture(QPainter& painter, const QImage& image, const QRect& clip);
    const QImage& shrunk(const QImage& image, int factor);
    int dividerX() const;

    QImage result_;
    QImage original_;
    QImage part_;
    QPoint partAt_;
    QSize size_;
    QString message_;
    Show show_ = Show::Result;
    double divider_ = 0.5;
    bool fit_ = true;
    double zoom_ = 1;
    // Averaged-down copies for zooms below a half, by the source's cache key and factor.
    struct Shrunk {
        qint64 key = 0;
        int factor = 0;
        QImage image;
    };
    Shrunk shrunk_[2];
    enum class Drag { None, Pan, Divider } drag_ = Drag::None;
    QPoint dragFrom_;
    int wheel_ = 0;  // of a notch, turned so far
};
