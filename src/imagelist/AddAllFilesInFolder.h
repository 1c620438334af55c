#pragma once

#include <functional>

class Dialogs;
class ImageList;
class SettingsStore;
class WindowPointer;

// "Add All Image File(s) In Folder": asks for an extension and a folder, remembers both, and adds
// every matching file of the folder's tree under the hourglass. `yield` runs the event loop and
// answers whether to go on. Trapped.
void PushButton3_Click(Dialogs& dialogs, SettingsStore& settings, ImageList& list,
                       WindowPointer& pointer, const std::function<bool()>& yield);
