#include "shell/Form1.h"
#include "shell/SettingsStore.h"

#include <QLineEdit>

// Every change of the output folder field is stored at once: each keystroke, and the changes
// that start-up and the browse button make.
void Form1::Text1_Change() {
    writeUntrapped(SettingKey::OutputFolder, Text1->text());
}
