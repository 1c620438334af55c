#include "base/RuntimeError.h"
#include "base/WindowPointer.h"
#include "imagelist/ImageList.h"

#include <gtest/gtest.h>

namespace {

class ImageListTest : public ::testing::Test {
  protected:
    WindowPointer pointer;
    ImageList list{pointer};

    void fill(const QStringList& rows) {
        for (const QString& r : rows) {
            list.AddImagePath(r);
        }
    }
    QStringList rows() const {
        QStringList texts;
        for (int i = 1; i <= list.RowCount(); ++i) {
            texts.append(list.RowText(i));
        }
        return texts;
    }
};

TEST_F(ImageListTest, RowsKeepTheirOrderAndTextAndDuplicates) {
    fill({"/b.jpg", "/a.jpg", "", "  /spaced.png ", "/b.jpg"});
    list.AddImagePaths({"/c.gif", "/d.bmp"});
    EXPECT_EQ(rows(), QStringList({"/b.jpg", "/a.jpg", "", "  /spaced.png ", "/b.jpg", "/c.gif",
                                   "/d.bmp"}));
}

TEST_F(ImageListTest, ContainsPathComparesExactly) {
    fill({"/C/a.jpg", "/b.jpg"});
    EXPECT_TRUE(list.ContainsPath("/C/a.jpg"));
    EXPECT_FALSE(list.ContainsPath("/c/a.jpg"));
    EXPECT_FALSE(list.ContainsPath("/C/a.jpg "));
    EXPECT_FALSE(list.ContainsPath("/C//a.jpg"));
}

TEST_F(ImageListTest, PositionsOutsideTheListRaise) {
    fill({"/a.jpg"});
    for (int position : {0, 2, -1}) {
        EXPECT_THROW(list.RowText(position), RuntimeError) << position;
        EXPECT_THROW(list.SetRowText(position, "x"), RuntimeError) << position;
    }
}

TEST_F(ImageListTest, RemovingRowTwoOfFiveMovesTheRestUp) {
    fill({"1", "2", "3", "4", "5"});
    list.SelectRow(2);
    list.RemoveSelectedRow();
    EXPECT_EQ(rows(), QStringList({"1", "3", "4", "5"}));
    EXPECT_EQ(list.RowText(2), "3");
}

TEST_F(ImageListTest, RemovalDoesNothingWhenEmptyUnselectedOrBusy) {
    list.RemoveSelectedRow();  // empty
    EXPECT_EQ(list.RowCount(), 0);
    fill({"1", "2"});
    list.RemoveSelectedRow();  // nothing selected
    EXPECT_EQ(list.RowCount(), 2);
    list.SelectRow(1);
    pointer.setMode(PointerMode::Hourglass);
    list.RemoveSelectedRow();
    list.ClearImageList();
    EXPECT_EQ(rows(), QStringList({"1", "2"}));
    pointer.setMode(PointerMode::Default);
    list.RemoveSelectedRow();
    EXPECT_EQ(rows(), QStringList({"2"}));
    list.ClearImageList();
    EXPECT_EQ(list.RowCount(), 0);
    list.ClearImageList();
    EXPECT_EQ(list.RowCount(), 0);
}

TEST_F(ImageListTest, SetRowTextReplacesInPlace) {
    fill({"A", "B", "C"});
    list.SetRowText(2, "Z");
    EXPECT_EQ(rows(), QStringList({"A", "Z", "C"}));
}

TEST_F(ImageListTest, AHundredThousandRowsAddAndClear) {
    QStringList many;
    for (int i = 0; i < 100000; ++i) {
        many.append(QString("/pics/%1.jpg").arg(i));
    }
    list.AddImagePaths(many);
    list.AddImagePath("/last.jpg");
    EXPECT_EQ(list.RowCount(), 100001);
    EXPECT_EQ(list.RowText(100000), "/pics/99999.jpg");
    EXPECT_TRUE(list.ContainsPath("/last.jpg"));
    list.ClearImageList();
    EXPECT_EQ(list.RowCount(), 0);
}

}  // namespace
