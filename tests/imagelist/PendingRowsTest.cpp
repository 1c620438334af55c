#include "base/WindowPointer.h"
#include "imagelist/ImageList.h"
#include "imagelist/PendingRows.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

namespace {

// Rows a..e; each step of a script: "t" the next pass takes its row, "?N" where pass N's row is
// now, "sAB" rows A and B trade places, "+X" row X added, "-N" row N removed. What "t" and "?"
// find is written down, "-" for none.
TEST(PendingRows, EachRowThereAtTheStartIsTakenOnceInTheListsOrderAsItStands) {
    const struct {
        const char* name;
        std::vector<std::string> script;
        std::string found;
    } cases[] = {
        {"as they are", {"t", "t", "t", "t", "t", "t"}, "abcde-"},
        {"a taken row moved ahead", {"t", "s13", "t", "t", "t", "t", "t"}, "acbde-"},
        {"a waiting row moved behind the taken ones",
         {"t", "t", "s51", "t", "t", "t", "t"},
         "abecd-"},
        {"passes ahead follow the rows",
         {"t", "?1", "?2", "s23", "?1", "?2", "?4", "?5"},
         "abccbe-"},
        {"rows added are not the batch's", {"t", "+x", "t", "t", "t", "t", "t", "?6"}, "abcde--"},
        {"a waiting row removed", {"t", "-2", "t", "t", "t", "t"}, "acde-"},
        {"a taken row removed", {"t", "t", "-1", "t", "t", "t", "t"}, "abcde-"},
    };
    for (const auto& c : cases) {
        WindowPointer pointer;
        ImageList list(pointer);
        list.AddImagePaths({"a", "b", "c", "d", "e"});
        PendingRows rows(list);
        rows.start();
        std::string found;
        const auto text = [&](int position) {
            return position > 0 ? list.RowText(position).toStdString() : std::string("-");
        };
        for (const std::string& step : c.script) {
            const int n = step.size() > 1 && std::isdigit(step[1]) ? step[1] - '0' : 0;
            if (step == "t") {
                found += text(rows.take());
            } else if (step[0] == '?') {
                found += text(rows.positionFor(n));
            } else if (step[0] == 's') {
                list.SwapRows(n, step[2] - '0');
            } else if (step[0] == '+') {
                list.AddImagePath(QString::fromStdString(step.substr(1)));
            } else {
                list.SelectRow(n);
                list.RemoveSelectedRow();
            }
        }
        EXPECT_EQ(found, c.found) << c.name;
    }
}

}  // namespace
