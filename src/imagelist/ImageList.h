#pragma once

#include <QAbstractListModel>
#include <QItemSelectionModel>
#include <QStringList>

class WindowPointer;

// The image list: the ordered source paths that the next conversion works through, one text per
// row, duplicates allowed, never sorted, held only in memory. Positions count from 1. The list
// owns its selection model, which the view shares, so that selecting and removing work without
// a view. Not thread-safe: used on the window's thread only.
class ImageList : public QAbstractListModel {
    Q_OBJECT
  public:
    // `pointer` tells whether the window is busy; it must outlive the list.
    explicit ImageList(const WindowPointer& pointer, QObject* parent = nullptr);

    void AddImagePath(const QString& path);
    // Appends several rows at once; the same as AddImagePath for each, in order, but cheaper.
    void AddImagePaths(const QStringList& paths);
    bool ContainsPath(const QString& path) const;
    int RowCount() const { return static_cast<int>(rows_.size()); }
    // Raise RuntimeError 35600 for a position outside 1..RowCount.
    QString RowText(int position) const;
    void SetRowText(int position, const QString& text);
    void SelectRow(int position);
    // The selected row's position, or 0 when no row is selected.
    int SelectedPosition() const;
    // Remove the selected row, or every row; both do nothing while the window is busy.
    void RemoveSelectedRow();
    void ClearImageList();
    bool IsBusy() const;

    // The title of the list's one column; empty until start-up adds the column.
    void setColumnTitle(const QString& title);

    QItemSelectionModel* selectionModel() { return &selection_; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  private:
    void checkPosition(int position) const;

    const WindowPointer& pointer_;
    QStringList rows_;
    QString columnTitle_;
    QItemSelectionModel selection_;
};
