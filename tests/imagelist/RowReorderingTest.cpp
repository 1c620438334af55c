#include "base/WindowPointer.h"
#include "imagelist/ImageList.h"
#include "imagelist/RowReordering.h"

#include <gtest/gtest.h>

namespace {

class RowReorderingTest : public ::testing::Test {
  protected:
    WindowPointer pointer;
    ImageList list{pointer};
    RowReordering reorder{list};

    void rows(const QStringList& texts) { list.AddImagePaths(texts); }
    QString order() const {
        QStringList t;
        for (int i = 1; i <= list.RowCount(); ++i) t.append(list.RowText(i));
        return t.join(",");
    }
    // A press on the row at `position`, as the list reports it: the button, then the click.
    void pressOn(int position) {
        reorder.MouseDown();
        list.SelectRow(position);
        reorder.ItemClick();
    }
};

TEST_F(RowReorderingTest, DraggingOverTheNeighboursMovesTheRowStepByStep) {
    rows({"A", "B", "C"});
    pressOn(3);
    reorder.MouseMove(3, 330);
    reorder.MouseMove(2, 330);
    reorder.MouseMove(1, 330);
    reorder.MouseUp();
    EXPECT_EQ(order(), "C,A,B");
    EXPECT_EQ(list.SelectedPosition(), 1);
    EXPECT_EQ(reorder.DragRow(), 1);
    EXPECT_FALSE(reorder.Dragging());
}

TEST_F(RowReorderingTest, SkippingRowsTradesOnlyTheTwoEnds) {
    rows({"A", "B", "C"});
    pressOn(1);
    reorder.MouseMove(3, 330);
    EXPECT_EQ(order(), "C,B,A");
}

TEST_F(RowReorderingTest, MovesThatChangeNothing) {
    rows({"A", "A", "B"});
    pressOn(1);
    reorder.MouseMove(2, 330);  // its twin
    EXPECT_EQ(order(), "A,A,B");
    reorder.MouseMove(0, 330);  // the empty area below the rows
    EXPECT_EQ(order(), "A,A,B");
    reorder.MouseUp();
    reorder.MouseMove(3, 330);  // no button held
    EXPECT_EQ(order(), "A,A,B");
}

TEST_F(RowReorderingTest, NothingMovesBeforeARowWasEverClicked) {
    rows({"A", "B"});
    reorder.MouseDown();  // on empty space
    reorder.MouseMove(1, 330);
    reorder.MouseMove(2, 330);
    EXPECT_EQ(order(), "A,B");
}

TEST_F(RowReorderingTest, AClickedRowThatWasRemovedIsNoDraggedRow) {
    rows({"A", "B", "C"});
    pressOn(2);
    reorder.MouseUp();
    list.RemoveSelectedRow();
    EXPECT_EQ(reorder.DragRow(), 0);
    reorder.MouseDown();
    reorder.MouseMove(1, 330);
    EXPECT_EQ(order(), "A,C");
}

TEST_F(RowReorderingTest, TheScreenRowDecidesWhatIsScrolledIntoView) {
    const struct {
        int screenY;
        int from, to;
        int scrolled;
    } cases[] = {
        {200, 3, 2, 1}, {304, 3, 2, 1}, {305, 3, 2, 0}, {330, 3, 2, 0},
        {364, 3, 2, 0}, {365, 2, 3, 4}, {400, 2, 3, 4}, {200, 2, 1, 0},  // no row above the first
        {400, 3, 4, 0},                                                  // none below the last
    };
    for (const auto& c : cases) {
        list.ClearImageList();
        rows({"A", "B", "C", "D"});
        pressOn(c.from);
        EXPECT_EQ(reorder.MouseMove(c.to, c.screenY), c.scrolled)
            << c.screenY << " from " << c.from << " to " << c.to;
        reorder.MouseUp();
    }
}

}  // namespace
