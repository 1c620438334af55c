#pragma once

#include "engine/ConversionSettings.h"
#include "filter/BlackWhiteFilter.h"

#include <QImage>
#include <QString>
#include <QWidget>

#include <memory>

class QLabel;
class QPushButton;
class QScrollArea;
class PreviewCanvas;

// A window beside the main window that shows one picture as the batch would render it: loaded the
// batch's way (upright, whole), through the filter with the thresholds given, at the picture's
// own scale. Fit to the window by default, or 100 % (a picture pixel to a screen pixel, panned by
// dragging or with the scroll bars); F and 1 switch, and O held (or the Original button) shows the
// picture as it was. The four slider values and the output file's path are shown above it; a
// picture that cannot be loaded shows the loader's reason in its place.
//
// Pictures are decoded on a worker thread, one at a time; the decoded picture is kept until
// another is shown, so that new thresholds only filter again. It holds one decoded picture and
// one result. It reads nothing from the main window: the owner tells it what to show.
class PreviewWindow : public QWidget {
    Q_OBJECT
  public:
    explicit PreviewWindow(QWidget* owner);
    ~PreviewWindow() override;

    // The picture to show; "" for none. Its decoding starts now, off this thread.
    void showPicture(const QString& sourcePath);
    // The slider values and the output folder: the picture is filtered again with them.
    void setSettings(const ConversionSettings& settings);

    const QString& sourcePath() const { return sourcePath_; }
    // The filtered picture shown, or null while there is none (loading, failed, no picture).
    const GreyImage* result() const { return hasResult_ ? &result_ : nullptr; }
    // The reason shown in place of the picture, or "".
    QString message() const;
    bool fitsWindow() const { return fit_; }
    bool showsOriginal() const { return original_; }
    // Screen pixels per picture pixel, as shown.
    double zoom() const;
    void setFitsWindow(bool fit);
    void setShowingOriginal(bool original);

  signals:
    // The picture was painted with the current settings (or its reason shown).
    void rendered();

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

  private:
    struct Inbox;

    void startLoading();
    void loaded(unsigned generation, std::shared_ptr<BgrxImage> picture, const QString& failure);
    void scheduleRender();
    void render();
    void showLabels();
    void showImage();
    void showZoom();

    QLabel* values_;
    QLabel* output_;
    QLabel* zoomLabel_;
    QPushButton* fitButton_;
    QPushButton* actualButton_;
    QPushButton* originalButton_;
    QScrollArea* scroll_;
    PreviewCanvas* canvas_;

    ConversionSettings settings_{};
    QString sourcePath_;
    unsigned generation_ = 0;  // of the picture asked for last
    bool loading_ = false;     // a worker decodes a picture
    bool renderPending_ = false;
    std::shared_ptr<BgrxImage> picture_;  // decoded, upright
    GreyImage result_;
    bool hasResult_ = false;
    QString failure_;
    bool fit_ = true;
    bool original_ = false;
    std::shared_ptr<Inbox> inbox_;  // where workers deliver; gone with the window
};
