#include "imagelist/AddAllFilesInFolder.h"

#include "base/AppTitle.h"
#include "base/Dialogs.h"
#include "base/SettingsStore.h"
#include "base/Trap.h"
#include "base/TrapLabels.h"
#include "base/WindowPointer.h"
#include "imagelist/AddFolder.h"
#include "imagelist/CleanPath.h"
#include "imagelist/ImageList.h"

namespace {
// The folder chosen last, as the store had it when the button was last pressed.
QString rememberedLastFolder;
}  // namespace

void PushButton3_Click(Dialogs& dialogs, SettingsStore& settings, ImageList& list,
                       WindowPointer& pointer, const std::function<bool()>& yield) {
    Trap trap(dialogs, TrapLabel::PushButton3_Click);
    QString answer;
    QString folder;
    trap.line(100, [&] {
        const QString proposed = settings.read(SettingKey::Extension, QStringLiteral("*"));
        answer = dialogs.inputBox(QStringLiteral("Enter file extension to load:\r\r(* for all "
                                                 "files, txt for all txt files, doc for all doc "
                                                 "files, etc.)"),
                                  AppTitle(), proposed);
        if (!answer.isEmpty()) {
            settings.write(SettingKey::Extension, answer);
        }
    });
    if (trap.test(102, [&] { return answer.isEmpty(); })) {
        return;
    }
    trap.line(104, [&] {
        rememberedLastFolder = settings.read(SettingKey::LastFolder, QString());
        folder =
            BrowseForFolder(dialogs, QStringLiteral("Please select folder:"), rememberedLastFolder);
    });
    if (trap.test(106, [&] { return folder.isEmpty(); })) {
        return;
    }
    trap.line(333, [&] { rememberedLastFolder = folder; });
    trap.line(334, [&] { settings.write(SettingKey::LastFolder, folder); });
    trap.line(112, [&] { pointer.setMode(PointerMode::Hourglass); });

    // The rows found between two yields are added together: the window shows nothing in
    // between, and adding them one by one would cost the list a change for each.
    QStringList pending;
    const auto flush = [&] {
        list.AddImagePaths(pending);
        pending.clear();
    };
    FolderScan scan(dialogs, [&] {
        flush();
        return yield();
    });
    scan.CollectFolderFiles(folder, QStringLiteral("*.") + answer, trap,
                            [&](const QString& path) { pending.append(CleanPath(path)); });
    flush();
    trap.line(136, [&] { pointer.setMode(PointerMode::Default); });
}
