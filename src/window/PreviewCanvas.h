#pragma once

#include <QImage>
#include <QPoint>
#include <QString>
#include <QWidget>

// Where the preview paints: a picture fitted to the space it is given, or at 100 % (then as large
// as the picture, inside a scroll area, and panned by dragging), or a message in its place.
class PreviewCanvas : public QWidget {
    Q_OBJECT
  public:
    explicit PreviewCanvas(QWidget* parent = nullptr);

    // Shows `picture` (kept by reference count, not copied) fitted or at 100 %.
    void setPicture(const QImage& picture, bool fit);
    void setMessage(const QString& message);
    const QString& message() const { return message_; }
    // Screen pixels per picture pixel; 0 with no picture.
    double zoom() const;

  signals:
    void resized();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

  private:
    void shrink();

    QImage picture_;
    QImage shrunk_;  // a fitted picture averaged down to between once and twice the shown size
    bool fit_ = true;
    QString message_;
    QPoint dragFrom_;
};
