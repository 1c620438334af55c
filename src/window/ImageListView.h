#pragma once

#include "imagelist/RowReordering.h"

#include <QTreeView>

#include <functional>

class ImageList;
class WindowPointer;

// The list control that shows the image list: one column with a header, one row per path,
// uniform row heights so that a hundred thousand rows stay cheap.
//
// The Delete key (whatever the modifiers) and a double-click anywhere in it ask for the selected
// row's removal; Space and the context menu's "Preview" ask for the preview window. Files and
// folders dragged from elsewhere can be dropped on it; any other data is refused. Rows are
// reordered by dragging them inside it, with the drag pointer from drag.ico shown while a row is
// held; no system drag ever starts from it.
class ImageListView : public QTreeView {
    Q_OBJECT
  public:
    static inline const QString HoverTip = QStringLiteral(
        "Drag and drop files here. Double-click item to remove it. Move | line to right and out "
        "of window to reveal full names.");

    // Keeps references to `list` and `pointer`; both must outlive the view.
    ImageListView(ImageList& list, WindowPointer& pointer, QWidget* parent = nullptr);

    // The picture of the drag pointer, read afresh at every row click.
    void setDragPointerFile(const QString& path) { dragPointerFile_ = path; }
    // The pointer's row on the screen for a mouse event; the screen's by default, for tests.
    void setScreenRow(std::function<int(const QMouseEvent&)> screenRow) {
        screenRow_ = std::move(screenRow);
    }
    RowReordering& reordering() { return reordering_; }

  signals:
    void removeRequested();
    void previewRequested();
    void copyCommandRequested();
    void filesDropped(const QStringList& paths);

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    ImageList& list_;
    WindowPointer& pointer_;
    RowReordering reordering_;
    QString dragPointerFile_;
    std::function<int(const QMouseEvent&)> screenRow_;
};
