#include "window/Form1.h"

#include "base/ProgramFiles.h"
#include "base/RuntimeError.h"
#include "base/SettingsStore.h"
#include "base/Trap.h"
#include "base/TrapLabels.h"
#include "imagelist/AddAllFilesInFolder.h"
#include "imagelist/AddFilesByDialog.h"
#include "imagelist/DropFiles.h"
#include "imagelist/ImageList.h"
#include "imagelist/SampleFiles.h"
#include "window/FinishedTyping.h"
#include "window/ImageListView.h"
#include "window/LiteralProgressBar.h"
#include "window/SliderValueTip.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QSlider>

#include <cmath>

namespace {

// The layout is given in twips; 15 twips make one logical pixel.
QRect twips(int left, int top, int width, int height) {
    const auto px = [](int t) { return qRound(t / 15.0); };
    return QRect(px(left), px(top), px(width), px(height));
}

QFont arialBold(qreal points) {
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(points);
    font.setBold(true);
    return font;
}

struct SliderSetup {
    int minimum, maximum, largeStep, smallStep, initial;
};

QSlider* makeSlider(QWidget* frame, QRect geometry, SliderSetup s) {
    auto* slider = new QSlider(Qt::Horizontal, frame);
    slider->setGeometry(geometry);
    SliderValueTip::attach(slider);
    slider->setRange(s.minimum, s.maximum);
    slider->setPageStep(s.largeStep);
    slider->setSingleStep(s.smallStep);
    slider->setValue(s.initial);
    slider->setTickPosition(QSlider::TicksBelow);
    slider->setTickInterval(s.largeStep);
    return slider;
}

QLabel* makeLabel(QWidget* frame, const char* text, QRect geometry) {
    auto* label = new QLabel(QString::fromUtf8(text), frame);
    label->setGeometry(geometry);
    return label;
}

}  // namespace

Form1::Form1(WindowServices services, QWidget* parent)
    : QWidget(parent), services_(std::move(services)), imageList_(new ImageList(pointer_, this)) {
    batch_ = std::make_unique<BatchConversion>(static_cast<BatchWindow&>(*this), *imageList_,
                                               pointer_, services_.dialogs, services_.workers);
    buildControls();
    connectHandlers();
    Form_Load();
}

Form1::~Form1() {
    showBusyEverywhere(false);
}

void Form1::buildControls() {
    setObjectName(QStringLiteral("Form1"));
    setFont(arialBold(9));
    setFixedSize(twips(0, 0, 8040, 9045).size());

    const QFont buttonFont = arialBold(11.25);
    const auto button = [&](const char* text, QWidget* owner, QRect geometry) {
        auto* b = new QPushButton(QString::fromUtf8(text), owner);
        b->setFont(buttonFont);
        b->setGeometry(geometry);
        return b;
    };
    const auto frame = [&](const char* text, QRect geometry) {
        auto* f = new QGroupBox(QString::fromUtf8(text), this);
        f->setGeometry(geometry);
        return f;
    };

    // Created top to bottom, which is also the order of the focus chain.
    PushButton6 = button("Help", this, twips(120, 120, 7800, 405));
    ListView1 = new ImageListView(*imageList_, pointer_, this);
    ListView1->setDragPointerFile(ProgramFile(services_.programFolder, QStringLiteral("drag.ico")));
    ListView1->setGeometry(twips(120, 630, 7800, 2070));
    PushButton1 = button("Add Image File(s)", this, twips(120, 2790, 3840, 405));
    PushButton3 = button("Add All Image File(s) In Folder", this, twips(4080, 2790, 3840, 405));
    PushButton4 = button("Clear List", this, twips(120, 3300, 3840, 405));
    PushButton5 = button("Load Sample/Example Files", this, twips(4080, 3300, 3840, 405));

    Frame1 = frame("Image Quality", twips(120, 3735, 7800, 780));
    Slider1 = makeSlider(Frame1, twips(120, 240, 7560, 450), {1, 100, 5, 1, 85});

    Frame2 = frame("Black Filter", twips(120, 4575, 7800, 780));
    Slider2 = makeSlider(Frame2, twips(360, 240, 6915, 450), {0, 80, 10, 5, 60});
    Label1 = makeLabel(Frame2, "0", twips(120, 300, 255, 255));
    Label8 = makeLabel(Frame2, "80", twips(7200, 300, 405, 255));

    Frame4 = frame("Gradient Filter", twips(120, 5415, 7800, 780));
    Slider3 = makeSlider(Frame4, twips(360, 240, 6915, 450), {70, 200, 10, 5, 180});
    Label2 = makeLabel(Frame4, "70", twips(120, 300, 255, 255));
    Label3 = makeLabel(Frame4, "200", twips(7200, 300, 405, 255));

    Frame5 = frame("Gray Filter", twips(120, 6255, 7800, 780));
    Slider4 = makeSlider(Frame5, twips(360, 240, 6915, 450), {10, 70, 10, 5, 50});
    Label13 = makeLabel(Frame5, "10", twips(120, 300, 255, 255));
    Label4 = makeLabel(Frame5, "70", twips(7200, 300, 405, 255));

    Frame3 = frame("Save Results To This Folder", twips(120, 7080, 7800, 795));
    Text1 = new QLineEdit(Frame3);
    Text1->setGeometry(twips(240, 300, 6660, 345));
    PushButton7 = button("...", Frame3, twips(6960, 300, 600, 345));

    PushButton2 = button("Start Converting", this, twips(120, 8000, 7800, 405));
    ProgressBar1 = new LiteralProgressBar(this);
    ProgressBar1->setGeometry(twips(120, 8520, 7800, 405));
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setAlignment(Qt::AlignCenter);
    ProgressBar1->setFormat(QStringLiteral("Progress Bar"));
}

void Form1::addFiles(const QStringList& paths) {
    ListView1_OLEDragDrop(paths, *imageList_, services_.dialogs,
                          [this] { return yieldToEvents(); });
}

void Form1::connectHandlers() {
    connect(&pointer_, &WindowPointer::modeChanged, this, &Form1::applyPointerMode);
    connect(ListView1, &ImageListView::removeRequested, imageList_, &ImageList::RemoveSelectedRow);
    connect(ListView1, &ImageListView::filesDropped, this, &Form1::addFiles);
    connect(ListView1, &ImageListView::copyCommandRequested, this, &Form1::copyCommandLine);
    connect(PushButton1, &QPushButton::clicked, this, &Form1::PushButton1_Click);
    connect(PushButton2, &QPushButton::clicked, this, &Form1::PushButton2_Click);
    connect(PushButton3, &QPushButton::clicked, this, &Form1::PushButton3_Click);
    connect(PushButton4, &QPushButton::clicked, this, &Form1::PushButton4_Click);
    connect(PushButton5, &QPushButton::clicked, this, &Form1::PushButton5_Click);
    connect(PushButton6, &QPushButton::clicked, this, &Form1::PushButton6_Click);
    connect(PushButton7, &QPushButton::clicked, this, &Form1::PushButton7_Click);
    connect(Slider1, &QSlider::valueChanged, this, &Form1::Slider1_Change);
    connect(Slider2, &QSlider::valueChanged, this, &Form1::Slider2_Change);
    connect(Slider3, &QSlider::valueChanged, this, &Form1::Slider3_Change);
    connect(Slider4, &QSlider::valueChanged, this, &Form1::Slider4_Change);
    connect(Text1, &QLineEdit::textChanged, this, &Form1::Text1_Change);
    // The batch follows the settings on its own, beside the handlers that store them, so that
    // the pictures its workers begin after a change have the new values.
    for (QSlider* slider : {Slider1, Slider2, Slider3, Slider4}) {
        connect(slider, &QSlider::valueChanged, this, [this] { batch_->settingsChanged(); });
    }
    // During a batch a folder typed counts once the person is done with it (Enter, or the focus
    // moving to another control; not a report box taking it); a text set by the window (the "..."
    // button) counts at once, and outside a batch the field is read at the click.
    connect(Text1, &QLineEdit::textChanged, this, [this] {
        if (!batch_->ConversionRunning() || !Text1->isModified()) {
            folderInForce();
        }
    });
    connect(new FinishedTyping(Text1, PushButton7), &FinishedTyping::finished, this,
            &Form1::folderInForce);
    watchPointerShapes();
    watchForPreview();
}

void Form1::applyPointerMode(PointerMode mode) {
    showBusyEverywhere(mode == PointerMode::Hourglass);
    switch (mode) {
        case PointerMode::Default:
            unsetCursor();
            break;
        case PointerMode::Hourglass:
            setCursor(Qt::WaitCursor);
            break;
        case PointerMode::Custom:
            setCursor(customCursor_.value_or(QCursor(Qt::PointingHandCursor)));
            break;
    }
}

// Controls with a pointer of their own (the text pointer of the output folder field, the
// header's divider) would show it over the window's; while busy, the hourglass covers them all.
void Form1::showBusyEverywhere(bool busy) {
    if (busy && !busyEverywhere_) {
        busyEverywhere_.emplace(Qt::WaitCursor);
    } else if (!busy) {
        busyEverywhere_.reset();
    }
}

void Form1::closeEvent(QCloseEvent* event) {
    // Closing the window ends the program at once, whatever else is open or running: a batch
    // stops where it stands, keeping the files it has written.
    closing_ = true;
    batch_->abandon();
    event->accept();
    QCoreApplication::quit();
}

void Form1::writeUntrapped(const QString& key, const QString& text) {
    try {
        services_.settings.write(key, text);
    } catch (const RuntimeError& e) {
        if (!warnedAboutSettings_) {
            warnedAboutSettings_ = true;
            qWarning("%s", e.description().c_str());
        }
    }
}

void Form1::PushButton1_Click() {
    ::PushButton1_Click(services_.dialogs, *imageList_);
}

void Form1::PushButton2_Click() {
    if (!batch_->ConversionRunning()) {
        folderInForce_ = Text1->text();  // read at the click, whatever was typed before
    }
    batch_->PushButton2_Click();
}

void Form1::PushButton3_Click() {
    ::PushButton3_Click(services_.dialogs, services_.settings, *imageList_, pointer_,
                        [this] { return yieldToEvents(); });
    // The folder add ends with the arrow; a batch that runs on keeps the window busy, so that no
    // row is removed under it.
    if (batch_->ConversionRunning() && !closing_) {
        pointer_.setMode(PointerMode::Hourglass);
    }
}

bool Form1::yieldToEvents() {
    const QScopedValueRollback adding(adding_, true);
    QCoreApplication::processEvents();
    return !closing_;
}

FilterThresholds Form1::thresholds() const {
    return {static_cast<std::int16_t>(Slider2->value()),
            static_cast<std::int16_t>(Slider3->value()),
            static_cast<std::int16_t>(Slider4->value())};
}

int Form1::quality() const {
    return Slider1->value();
}

QString Form1::outputFolder() const {
    return batch_->ConversionRunning() ? folderInForce_ : Text1->text();
}

void Form1::batchEnded() {
    followSettingsInPreview();  // a folder typed and never finished is the one in force now
}

void Form1::folderInForce() {
    if (batch_->ConversionRunning() && Text1->text().isEmpty()) {
        return;  // no folder: the files would go to the file system's root, so the last one holds
    }
    folderInForce_ = Text1->text();
    batch_->settingsChanged();
    followSettingsInPreview();  // the preview names the file the batch writes
}

void Form1::setProgressValue(double percent) {
    progressValue_ = percent;
    // Ties to even, as every conversion of a real to an integer here (1 row of 8 shows 12).
    ProgressBar1->setValue(static_cast<int>(std::nearbyint(percent)));
}

void Form1::setProgressText(const QString& text) {
    ProgressBar1->setFormat(text);
    // Several passes may be taken up before the event loop paints again: each text is seen.
    ProgressBar1->repaint();
}

void Form1::PushButton4_Click() {
    Trap trap(services_.dialogs, TrapLabel::PushButton4_Click);
    trap.line(100, [&] { imageList_->ClearImageList(); });
}

void Form1::PushButton5_Click() {
    Trap trap(services_.dialogs, TrapLabel::PushButton5_Click);
    trap.line(100, [&] {
        LoadSamples(*imageList_, services_.settings, services_.dialogs,
                    SamplesFolder(services_.programFolder), [this] { return yieldToEvents(); });
    });
}
