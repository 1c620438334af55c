#include "shell/Form1.h"
#include "shell/RuntimeError.h"
#include "shell/SettingsStore.h"

#include <QLineEdit>

// Every change of the output folder field is stored at once. There is no trap here: a store
// that cannot be written leaves the field as typed and is mentioned once on the console.
void Form1::Text1_Change() {
    try {
        services_.settings.write(SettingKey::OutputFolder, Text1->text());
    } catch (const RuntimeError& e) {
        static bool warned = false;
        if (!warned) {
            warned = true;
            qWarning("%s", e.description().c_str());
        }
    }
}
