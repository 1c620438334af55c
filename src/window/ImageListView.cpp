#include "window/ImageListView.h"

#include "base/RuntimeError.h"
#include "base/WindowPointer.h"
#include "imagelist/DropFiles.h"
#include "imagelist/ImageList.h"
#include "window/CursorFile.h"

#include <QDragEnterEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>

ImageListView::ImageListView(ImageList& list, WindowPointer& pointer, QWidget* parent)
    : QTreeView(parent),
      list_(list),
      pointer_(pointer),
      reordering_(list),
      screenRow_([](const QMouseEvent& e) { return qRound(e.globalPosition().y()); }) {
    setModel(&list);
    setSelectionModel(list.selectionModel());
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    header()->setStretchLastSection(false);
    // A drop target for files only; a row dragged inside never becomes a system drag.
    setDragEnabled(false);
    setDragDropMode(QAbstractItemView::DropOnly);
    setAcceptDrops(true);
    setDropIndicatorShown(false);
    viewport()->setMouseTracking(true);  // moves without a button put the arrow back
    // The tip shows over the rows and the empty area alike: rows carry no tip of their own.
    setToolTip(HoverTip);
    viewport()->setToolTip(HoverTip);
}

void ImageListView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Delete) {
        event->accept();
        emit removeRequested();
        return;
    }
    if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier) {
        event->accept();
        emit previewRequested();
        return;
    }
    QTreeView::keyPressEvent(event);
}

void ImageListView::contextMenuEvent(QContextMenuEvent* event) {
    // The menu takes the release of the button that brought it: the press's drag ends here.
    reordering_.MouseUp();
    viewport()->setCursor(Qt::ArrowCursor);
    QMenu menu(this);
    menu.addAction(QStringLiteral("Preview"), this, &ImageListView::previewRequested);
    menu.addAction(QStringLiteral("Copy as Command Line"), this,
                   &ImageListView::copyCommandRequested)
        ->setEnabled(list_.RowCount() > 0);
    menu.exec(event->globalPos());
}

void ImageListView::mouseDoubleClickEvent(QMouseEvent* event) {
    QTreeView::mouseDoubleClickEvent(event);
    emit removeRequested();
}

void ImageListView::mousePressEvent(QMouseEvent* event) {
    reordering_.MouseDown();
    QTreeView::mousePressEvent(event);
    if (!indexAt(event->position().toPoint()).isValid()) {
        return;
    }
    // A row was clicked: the drag pointer, if its picture loads; otherwise the pointer stays.
    try {
        viewport()->setCursor(LoadCursorFile(dragPointerFile_));
    } catch (const RuntimeError&) {
    }
    reordering_.ItemClick();
}

void ImageListView::mouseMoveEvent(QMouseEvent* event) {
    if (!pointer_.IsBusy()) {
        pointer_.setMode(PointerMode::Default);
    }
    if (reordering_.Dragging() && !(event->buttons() & Qt::LeftButton)) {
        // The release went elsewhere: a report box that opened under the drag took it.
        reordering_.MouseUp();
        viewport()->setCursor(Qt::ArrowCursor);
    }
    if (!reordering_.Dragging()) {
        QTreeView::mouseMoveEvent(event);
        return;
    }
    // While a row is held the list's own drag-selection stays out: the reordering selects.
    const QModelIndex under = indexAt(event->position().toPoint());
    const int target =
        reordering_.MouseMove(under.isValid() ? under.row() + 1 : 0, screenRow_(*event));
    if (target > 0) {
        scrollTo(list_.index(target - 1));
    }
}

void ImageListView::mouseReleaseEvent(QMouseEvent* event) {
    reordering_.MouseUp();
    viewport()->setCursor(Qt::ArrowCursor);
    QTreeView::mouseReleaseEvent(event);
}

void ImageListView::dragEnterEvent(QDragEnterEvent* event) {
    if (OffersFiles(event->mimeData())) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void ImageListView::dragMoveEvent(QDragMoveEvent* event) {
    if (OffersFiles(event->mimeData())) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void ImageListView::dropEvent(QDropEvent* event) {
    const QStringList paths = DroppedPaths(event->mimeData());
    if (paths.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    emit filesDropped(paths);
}
