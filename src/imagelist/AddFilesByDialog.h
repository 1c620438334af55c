#pragma once

class Dialogs;
class ImageList;

// "Add Image File(s)": shows the open-file dialog and appends every chosen file to the list.
// Trapped; a selection too large for the dialog shows "You've selected too many files to add."
// and adds nothing.
void PushButton1_Click(Dialogs& dialogs, ImageList& list);
