#include "base/AppInfo.h"
#include "base/AppTitle.h"
#include "base/Dialogs.h"
#include "base/SettingsStore.h"
#include "base/Trap.h"
#include "base/TrapLabels.h"
#include "imagelist/AddFolder.h"
#include "window/Form1.h"

#include <QDir>
#include <QLineEdit>
#include <QSlider>

// The sliders and the output folder are stored the moment they change: each step of a slider's
// move and each keystroke in the field (and the changes start-up and the browse button make).
void Form1::Slider1_Change() {
    writeUntrapped(SettingKey::Slider1, QString::number(Slider1->value()));
}
void Form1::Slider2_Change() {
    writeUntrapped(SettingKey::Slider2, QString::number(Slider2->value()));
}
void Form1::Slider3_Change() {
    writeUntrapped(SettingKey::Slider3, QString::number(Slider3->value()));
}
void Form1::Slider4_Change() {
    writeUntrapped(SettingKey::Slider4, QString::number(Slider4->value()));
}

void Form1::Text1_Change() {
    writeUntrapped(SettingKey::OutputFolder, Text1->text());
}

// The browse button beside the output folder. It does not look at the busy state: the folder
// may change while a batch runs, which reads it when each picture starts.
void Form1::PushButton7_Click() {
    Trap trap(services_.dialogs, TrapLabel::PushButton7_Click);
    QString chosen;
    trap.line(100, [&] {
        const QString last = services_.settings.read(SettingKey::LastFolderDot, QString());
        chosen = BrowseForFolder(services_.dialogs, QStringLiteral("Please select folder:"), last);
    });
    if (trap.test(102, [&] { return chosen.isEmpty(); })) {
        return;
    }
    trap.line(104, [&] { services_.settings.write(SettingKey::LastFolderDot, chosen); });
    if (trap.test(104, [&] { return !chosen.endsWith(QDir::separator()); })) {
        trap.line(106, [&] { Text1->setText(chosen + QDir::separator()); });
    } else {
        trap.line(108, [&] { Text1->setText(chosen); });
    }
    // The answer ends the typing, also when it is the text typed, which changes nothing.
    folderInForce();
}

void Form1::PushButton6_Click() {
    Trap trap(services_.dialogs, TrapLabel::PushButton6_Click);
    trap.line(100, [&] {
        services_.dialogs.messageBox(
            QStringLiteral("You may need to experiment with the slider controls below in order to "
                           "get the desired black and white output.\r\rQuestions? Please contact "
                           "Team Kestrova at ") +
                QString::fromUtf8(AppInfo::ContactPage),
            Dialogs::Style::Plain, AppTitle(),
            QStringLiteral("Tonvaler ") + QString::fromUtf8(AppInfo::Version));
    });
}
