#include "imagelist/ImageListView.h"

#include "imagelist/ImageList.h"

#include <QHeaderView>
#include <QKeyEvent>

ImageListView::ImageListView(ImageList& list, QWidget* parent) : QTreeView(parent) {
    setModel(&list);
    setSelectionModel(list.selectionModel());
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    header()->setStretchLastSection(false);
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
    QTreeView::keyPressEvent(event);
}

void ImageListView::mouseDoubleClickEvent(QMouseEvent* event) {
    QTreeView::mouseDoubleClickEvent(event);
    emit removeRequested();
}
