#include "imagelist/ImageList.h"

#include "base/RuntimeError.h"
#include "base/WindowPointer.h"

ImageList::ImageList(const WindowPointer& pointer, QObject* parent)
    : QAbstractListModel(parent), pointer_(pointer), selection_(this) {}

void ImageList::AddImagePath(const QString& path) {
    const int row = RowCount();
    beginInsertRows(QModelIndex(), row, row);
    rows_.append(path);
    ids_.push_back(nextId_++);
    endInsertRows();
}

void ImageList::AddImagePaths(const QStringList& paths) {
    if (paths.isEmpty()) {
        return;
    }
    const int first = RowCount();
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(paths.size()) - 1);
    rows_.append(paths);
    for (qsizetype i = 0; i < paths.size(); ++i) {
        ids_.push_back(nextId_++);
    }
    endInsertRows();
}

bool ImageList::ContainsPath(const QString& path) const {
    return rows_.contains(path, Qt::CaseSensitive);
}

RuntimeError ImageList::NoRow(int position) {
    return RuntimeError(ErrorNumber::IndexOutOfBounds,
                        "Index out of bounds: the list has no row " + std::to_string(position));
}

void ImageList::checkPosition(int position) const {
    if (position < 1 || position > RowCount()) {
        throw NoRow(position);
    }
}

QString ImageList::RowText(int position) const {
    checkPosition(position);
    return rows_.at(position - 1);
}

ImageList::RowId ImageList::RowIdAt(int position) const {
    checkPosition(position);
    return ids_[std::size_t(position - 1)];
}

void ImageList::SwapRows(int a, int b) {
    checkPosition(a);
    checkPosition(b);
    rows_.swapItemsAt(a - 1, b - 1);
    std::swap(ids_[std::size_t(a - 1)], ids_[std::size_t(b - 1)]);
    ++arrangement_;
    for (const int position : {a, b}) {
        const QModelIndex changed = index(position - 1);
        emit dataChanged(changed, changed, {Qt::DisplayRole});
    }
}

void ImageList::SetRowText(int position, const QString& text) {
    checkPosition(position);
    rows_[position - 1] = text;
    const QModelIndex changed = index(position - 1);
    emit dataChanged(changed, changed, {Qt::DisplayRole});
}

void ImageList::SelectRow(int position) {
    checkPosition(position);
    selection_.setCurrentIndex(index(position - 1), QItemSelectionModel::ClearAndSelect);
}

int ImageList::SelectedPosition() const {
    const QModelIndexList selected = selection_.selectedRows();
    return selected.isEmpty() ? 0 : selected.first().row() + 1;
}

void ImageList::RemoveSelectedRow() {
    if (IsBusy() || RowCount() == 0) {
        return;
    }
    const int position = SelectedPosition();
    if (position == 0) {
        return;
    }
    beginRemoveRows(QModelIndex(), position - 1, position - 1);
    rows_.removeAt(position - 1);
    ids_.erase(ids_.begin() + (position - 1));
    ++arrangement_;
    endRemoveRows();
}

void ImageList::ClearImageList() {
    if (IsBusy()) {
        return;
    }
    beginResetModel();
    rows_.clear();
    ids_.clear();
    ++arrangement_;
    endResetModel();
}

bool ImageList::IsBusy() const {
    return pointer_.IsBusy();
}

void ImageList::setColumnTitle(const QString& title) {
    columnTitle_ = title;
    emit headerDataChanged(Qt::Horizontal, 0, 0);
}

int ImageList::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : RowCount();
}

QVariant ImageList::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= RowCount() || role != Qt::DisplayRole) {
        return {};
    }
    return rows_.at(index.row());
}

QVariant ImageList::headerData(int section, Qt::Orientation orientation, int role) const {
    if (section == 0 && orientation == Qt::Horizontal && role == Qt::DisplayRole) {
        return columnTitle_;
    }
    return {};
}
