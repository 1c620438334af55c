#pragma once

#include "base/WindowPointer.h"
#include "window/BatchConversion.h"
#include "window/PointerOverride.h"
#include "window/WindowServices.h"

#include <QCursor>
#include <QWidget>

#include <deque>
#include <memory>
#include <optional>

class ImageList;
class ImageListView;
class PreviewWindow;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSlider;
class QTimer;

// The main window. It is built with its controls, then runs Form_Load before it is first shown;
// closing it ends the program. The controls keep their numbered names; the window owns them all.
class Form1 : public QWidget, private BatchWindow {
    Q_OBJECT
  public:
    explicit Form1(WindowServices services, QWidget* parent = nullptr);
    ~Form1() override;

    ImageList& imageList() { return *imageList_; }
    WindowPointer& pointer() { return pointer_; }
    // The hand cursor loaded at start-up, if any.
    const std::optional<QCursor>& customCursor() const { return customCursor_; }
    BatchConversion& batch() { return *batch_; }
    // The progress as the batch last set it, in percent, before the bar rounds it.
    double progressValue() const { return progressValue_; }
    // The preview window, opened for the selected row (Space or "Preview" on the list); null
    // before it was first opened.
    PreviewWindow* preview() { return preview_; }
    void openPreview();
    // Adds files and folders as a drop on the list does (folders walked, the same refusals and
    // messages); the paths are absolute.
    void addFiles(const QStringList& paths);
    // Files that a later start of the program handed to this window (OneWindow): the window
    // shows itself, and the files join the list as a drop once no box waits for an answer and no
    // other files are being added, in the order the starts came. An empty list only shows it.
    void takeFilesFromAnotherStart(const QStringList& paths);

    QPushButton* PushButton1;  // "Add Image File(s)"
    QPushButton* PushButton2;  // "Start Converting"
    QPushButton* PushButton3;  // "Add All Image File(s) In Folder"
    QPushButton* PushButton4;  // "Clear List"
    QPushButton* PushButton5;  // "Load Sample/Example Files"
    QPushButton* PushButton6;  // "Help"
    QPushButton* PushButton7;  // "..." beside the output folder
    ImageListView* ListView1;
    QGroupBox* Frame1;  // "Image Quality"
    QGroupBox* Frame2;  // "Black Filter"
    QGroupBox* Frame3;  // "Save Results To This Folder"
    QGroupBox* Frame4;  // "Gradient Filter"
    QGroupBox* Frame5;  // "Gray Filter"
    QSlider* Slider1;
    QSlider* Slider2;
    QSlider* Slider3;
    QSlider* Slider4;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Label8;
    QLabel* Label13;
    QLineEdit* Text1;
    QProgressBar* ProgressBar1;

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void folderInForce();
    void buildControls();
    void connectHandlers();
    void applyPointerMode(PointerMode mode);
    void showBusyEverywhere(bool busy);
    // Stores a setting for a handler without a trap: a store that cannot be written is noted
    // once on the console, and the control keeps its new value.
    void writeUntrapped(const QString& key, const QString& text);

    FilterThresholds thresholds() const override;
    int quality() const override;
    QString outputFolder() const override;
    void batchEnded() override;
    void setProgressValue(double percent) override;
    void setProgressText(const QString& text) override;

    void Form_Load();
    void ApplySkin();
    void PushButton1_Click();
    void PushButton2_Click();
    void PushButton3_Click();
    void PushButton4_Click();
    void PushButton5_Click();
    void PushButton6_Click();
    void PushButton7_Click();
    void Slider1_Change();
    void Slider2_Change();
    void Slider3_Change();
    void Slider4_Change();
    void Text1_Change();
    void watchPointerShapes();
    void watchForPreview();
    void followSelectionInPreview();
    void followSettingsInPreview();
    // Lets the event loop run during a long walk; false once the window is closing.
    bool yieldToEvents();
    void addHandedFiles();
    // "Copy as Command Line" in the list's menu.
    void copyCommandLine();

    WindowServices services_;
    WindowPointer pointer_;
    ImageList* imageList_;
    std::optional<QCursor> customCursor_;
    bool warnedAboutSettings_ = false;
    std::unique_ptr<BatchConversion> batch_;
    QList<QWidget*> handOver_;
    QList<QWidget*> arrowOver_;
    bool closing_ = false;
    std::optional<PointerOverride> busyEverywhere_;  // the hourglass over the whole program
    double progressValue_ = 0;
    // The output folder the batch writes to: during a batch the field's text once the person has
    // finished typing it, else the field as it stands.
    QString folderInForce_;
    PreviewWindow* preview_ = nullptr;  // a child window, owned by this one
    bool adding_ = false;               // a walk adding files lets events through
    std::deque<QStringList> handedFiles_;
    QTimer* handedRetry_ = nullptr;
};
