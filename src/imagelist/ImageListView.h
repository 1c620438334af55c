#pragma once

#include <QTreeView>

class ImageList;

// The list control that shows the image list: one column with a header, one row per path,
// uniform row heights so that a hundred thousand rows stay cheap. The Delete key (whatever the
// modifiers) and a double-click anywhere in it ask for the selected row's removal.
class ImageListView : public QTreeView {
    Q_OBJECT
  public:
    static inline const QString HoverTip = QStringLiteral(
        "Drag and drop files here. Double-click item to remove it. Move | line to right and out "
        "of window to reveal full names.");

    explicit ImageListView(ImageList& list, QWidget* parent = nullptr);

  signals:
    void removeRequested();

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
};
