// The operator's run marks: which rows a key or a click may flip.
#include <algorithm>

#include "monitor/CenterMarks.h"

namespace edi {

std::vector<int> ToggleMarksBySpace(WorkArea& work, int current_row, int end_row) {
    std::vector<int> changed;
    if (work.RunState != 0) return changed;
    for (int r = std::max(current_row, 0); r <= end_row && r < static_cast<int>(work.Centers.size()); ++r) {
        CenterEntry& row = work.Centers[static_cast<std::size_t>(r)];
        if (row.RowState != 0) continue;
        row.RunFlag = !row.RunFlag;
        changed.push_back(r);
    }
    return changed;
}

bool ToggleMarkByClick(WorkArea& work, int clicked_row, int current_column) {
    bool flipped = false;
    if (clicked_row >= 0 && clicked_row < static_cast<int>(work.Centers.size())) {
        CenterEntry& row = work.Centers[static_cast<std::size_t>(clicked_row)];
        if (work.RunState == 0 && clicked_row == work.SelectedRow && row.RowState == 0 && current_column == 1) {
            row.RunFlag = !row.RunFlag;
            flipped = true;
        }
    }
    work.SelectedRow = static_cast<std::int16_t>(clicked_row);
    return flipped;
}

}  // namespace edi
