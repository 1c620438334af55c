#pragma once

#include "engine/ConversionSettings.h"
#include "engine/MemoryBudget.h"
#include "window/PreviewWork.h"

#include <QHash>
#include <QImage>
#include <QString>
#include <QWidget>

#include <memory>

class QLabel;
class QPushButton;
class PreviewCanvas;
class SettingsStore;

// A window beside the main window that shows one picture as the batch writes it: loaded the
// batch's way (upright, whole), through the filter with the thresholds given, then through the
// batch's JPEG encoder at the chosen quality and read back, as a viewer would show the file. At
// once a reduced copy of the original (a JPEG's quick look), then the part on screen exact, then
// the whole; the file's size beside it. Fit to the window by default, or zoomed from the fitted
// size to 400 % with the wheel or Ctrl + and -, panned by dragging or with the scroll bars; F
// fits, 1 shows 100 % around the picture point under the pointer. O held (or the Original
// button) shows the picture as it was, S (or Split) the two side by side across a divider that
// is dragged. The four slider values and the output file's path are shown above it; a picture
// that cannot be loaded shows the loader's reason in its place. Escape closes it.
//
// All the work runs off the window's thread (PreviewWork) and only while the window is shown;
// closed, it holds no picture. It reads nothing from the main window: the owner tells it what to
// show. Its place and size are kept in the settings' section "Preview", with the zoom last chosen;
// a picture opens fitted, or at the zoom it was left at earlier in the same run.
class PreviewWindow : public QWidget {
    Q_OBJECT
  public:
    // `budget`: the batch's, which its pictures take their share of (none: no share is taken).
    PreviewWindow(QWidget* owner, SettingsStore& settings,
                  std::shared_ptr<MemoryBudget> budget = nullptr);
    ~PreviewWindow() override;

    // The picture to show; "" for none. Its decoding starts now when the window is shown.
    void showPicture(const QString& sourcePath);
    // The slider values and the output folder: the picture is made again with them.
    void setSettings(const ConversionSettings& settings);

    const QString& sourcePath() const { return sourcePath_; }
    // The picture shown as the file holds it, whole, for the current settings; null until then.
    const GreyImage* result() const;
    // The written file's size in bytes, for the result shown; 0 before there is one.
    std::uint64_t fileBytes() const { return fileBytes_; }
    // The reason shown in place of the picture, or "".
    QString message() const;
    // What the status line says ("Original, reduced: making the result…", or "").
    QString status() const;
    bool fitsWindow() const;
    bool showsOriginal() const { return original_; }
    bool showsSplit() const { return split_; }
    // Screen pixels per picture pixel, as shown.
    double zoom() const;
    PreviewCanvas& canvas() { return *canvas_; }
    void setFitsWindow(bool fit);
    void setShowingOriginal(bool original);
    void setSplit(bool split);
    // The main window's frame and the part of it the preview may cover (the list), on the
    // screen, for its first place.
    void setOwnerPlace(const QRect& frame, const QRect& mayCover);

  signals:
    // The whole result for the current settings was painted, with its file's size (or the
    // picture's failure shown).
    void rendered();
    // What is on screen is exact for the current settings: the part in view, or the whole.
    void shownExact();

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void ask();
    void made(const PreviewFrame& frame);
    void letGo();
    void showPictures();
    void showLabels();
    void showZoom();
    void showCanvasMode();
    void placeBesideOwner();
    void remember();
    void zoomStep(int steps);
    PreviewRequest wanted() const;

    SettingsStore& settings_;
    QLabel* values_;
    QLabel* output_;
    QLabel* zoomLabel_;
    // The zoom each picture shown in this run was left at, when not fitted.
    QHash<QString, double> zoomOf_;
    QLabel* sizeLabel_;
    QLabel* statusLabel_;
    QPushButton* fitButton_;
    QPushButton* actualButton_;
    QPushButton* originalButton_;
    QPushButton* splitButton_;
    PreviewCanvas* canvas_;
    PreviewWork* work_;

    ConversionSettings conversion_{};
    QString sourcePath_;
    PreviewRequest asked_;  // the request made last
    bool placed_ = false;
    QRect ownerFrame_;
    QRect mayCover_;
    bool original_ = false;
    bool split_ = false;
    // What the work delivered, for sourcePath_.
    std::shared_ptr<const BgrxImage> look_;  // the quick look or the whole original
    bool reduced_ = false;
    int lookRows_ = 0;  // of look_, those that show the picture (0: all)
    // look_ as last given to the canvas: while look_ stays, so does the image, and what the
    // canvas averaged down of it for the split view (14.7 MP at 4 bytes, at every step).
    QImage lookShown_;
    const BgrxImage* lookShownOf_ = nullptr;
    int lookShownRows_ = 0;
    QSize size_;
    std::shared_ptr<const GreyImage> whole_;
    PreviewRequest wholeFor_;
    std::uint64_t fileBytes_ = 0;
    bool sizeComing_ = false;  // the result shown waits for its file's size
    std::shared_ptr<const GreyImage> part_;
    QRect partAt_;
    QString failure_;
};
