#include "base/AppInfo.h"
#include "base/AppTitle.h"
#include "base/FileExists.h"
#include "base/NumberText.h"
#include "base/RuntimeError.h"
#include "base/SettingsStore.h"
#include "base/Trap.h"
#include "base/TrapLabels.h"
#include "imagelist/AddFolder.h"
#include "imagelist/ImageList.h"
#include "imagelist/SampleFiles.h"
#include "window/CursorFile.h"
#include "window/Form1.h"
#include "window/ImageListView.h"
#include "window/MaybeVisitHomePage.h"

#include <QIcon>
#include <QLineEdit>
#include <QSlider>

namespace {

// Moves `slider` to the stored position; a stored text that is not a number or lies outside
// the slider's range fails, and the slider keeps its position.
void restoreSlider(QSlider* slider, SettingsStore& settings, const QString& key, int byDefault) {
    const std::int32_t position = TextToLong(settings.read(key, QString::number(byDefault)));
    if (position < slider->minimum() || position > slider->maximum()) {
        throw RuntimeError(ErrorNumber::InvalidPropertyValue,
                           "Invalid property value: " + key.toStdString() + " " +
                               std::to_string(position) + " is outside " +
                               std::to_string(slider->minimum()) + " to " +
                               std::to_string(slider->maximum()));
    }
    slider->setValue(position);
}

}  // namespace

void Form1::Form_Load() {
    Trap trap(services_.dialogs, TrapLabel::Form_Load);
    SettingsStore& settings = services_.settings;
    const QString handCursor = services_.programFolder + QStringLiteral("/HAND-M.CUR");
    const std::function<bool()> yield = [this] { return yieldToEvents(); };

    trap.line(100, [&] { ApplySkin(); });
    trap.line(104, [&] {
        setWindowTitle(QString::fromUtf8(AppInfo::ProductTitle));
        setWindowIcon(QIcon(QStringLiteral(":/tonvaler.png")));
        SetAppTitle();
    });
    if (trap.test(106, [&] { return FileExists(handCursor); })) {
        trap.line(108, [&] { customCursor_ = LoadCursorFile(handCursor); });
    }
    trap.line(110, [&] { MaybeVisitHomePage(services_.dialogs); });
    // The sample pictures are recorded at the first start that finds any, and again when the
    // record is another copy's of the program.
    FolderScan scan(services_.dialogs, yield);
    const QString samples = SamplesFolder(services_.programFolder);
    const auto unrecorded = [&] { return SampleRecordWanted(settings, samples, yield); };
    if (trap.test(110, unrecorded)) {
        trap.line(110, [&] { RecordSamples(settings, scan, samples, yield); });
    }
    if (trap.test(126, unrecorded)) {
        trap.line(126, [&] { RecordSamples(settings, scan, samples, yield); });
    }
    trap.line(128, [&] { imageList_->setColumnTitle(QStringLiteral("Image File(s)")); });
    trap.line(130, [&] { ListView1->setColumnWidth(0, qRound(7000 / 15.0)); });
    trap.line(132, [&] { restoreSlider(Slider1, settings, SettingKey::Slider1, 85); });
    trap.line(134, [&] { restoreSlider(Slider2, settings, SettingKey::Slider2, 60); });
    trap.line(136, [&] { restoreSlider(Slider3, settings, SettingKey::Slider3, 180); });
    trap.line(138, [&] { restoreSlider(Slider4, settings, SettingKey::Slider4, 50); });
    trap.line(140, [&] {
        const QString byDefault = DefaultOutputFolder(services_.desktopFolder);
        Text1->setText(settings.read(SettingKey::OutputFolder, byDefault));
    });
}
