#pragma once

#include <QAbstractListModel>
#include <QItemSelectionModel>
#include <QStringList>

#include <vector>

class RuntimeError;
class WindowPointer;

// The image list: the ordered source paths that the next conversion works through, one text per
// row, duplicates allowed, never sorted, held only in memory. Positions count from 1. Each row
// also has an identity, never used for another row, which travels with its text when rows trade
// places, so that a batch knows a row wherever it is dragged. The list owns its selection model,
// which the view shares, so that selecting and removing work without a view. Not thread-safe:
// used on the window's thread only.
class ImageList : public QAbstractListModel {
    Q_OBJECT
  public:
    using RowId = quint64;

    // `pointer` tells whether the window is busy; it must outlive the list.
    explicit ImageList(const WindowPointer& pointer, QObject* parent = nullptr);

    void AddImagePath(const QString& path);
    // Appends several rows at once; the same as AddImagePath for each, in order, but cheaper.
    void AddImagePaths(const QStringList& paths);
    bool ContainsPath(const QString& path) const;
    int RowCount() const { return static_cast<int>(rows_.size()); }
    // Raise RuntimeError 35600 for a position outside 1..RowCount.
    QString RowText(int position) const;
    RowId RowIdAt(int position) const;
    // The text changes; the row stays who it is.
    void SetRowText(int position, const QString& text);
    // Rows `a` and `b` trade places, texts and identities.
    void SwapRows(int a, int b);
    // Changes whenever rows are removed or trade places: what moves a row from its position (rows
    // added go after all others; a text changed leaves the row where it is).
    quint64 Arrangement() const { return arrangement_; }
    // What RowText raises for `position`.
    static RuntimeError NoRow(int position);
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
    std::vector<RowId> ids_;  // beside rows_
    RowId nextId_ = 1;
    quint64 arrangement_ = 0;
    QString columnTitle_;
    QItemSelectionModel selection_;
};
