#pragma once

#include <QStringList>

#include <functional>

class Dialogs;
class ImageList;
class QMimeData;

// Files and folders dropped on the image list.

// Whether dragged data offers a list of local files, the one kind of data the list takes.
bool OffersFiles(const QMimeData* data);

// The local paths of the files in dragged data, in its order.
QStringList DroppedPaths(const QMimeData* data);

// Adds what was dropped, in the drop's order: a folder gives every file below it (breadth-first,
// without names beginning with "~", hidden files, and files that cannot be opened), a file is
// added exactly as given, whatever its name or type. A path that cannot be looked at (gone since
// the drag began) is skipped, and so is a folder that cannot be listed; the rest of the drop goes
// on. No hourglass, no busy test, no report of its own. `yield` runs the event loop during a
// folder walk and answers whether to go on.
void ListView1_OLEDragDrop(const QStringList& paths, ImageList& list, Dialogs& dialogs,
                           const std::function<bool()>& yield);
