// The operator's run marks on the center grid: which rows a key or a click may flip.
#pragma once

#include <vector>

#include "startup/WorkArea.h"

namespace edi {

inline constexpr const char* kMarkRun = "○";
inline constexpr const char* kMarkSkip = "×";

// Space on the grid: flips every waiting row from the current row down to the selection's
// end row, only while idle. Returns the rows whose mark changed.
std::vector<int> ToggleMarksBySpace(WorkArea& work, int current_row, int end_row);
// A click: flips the row when idle, already selected, waiting, and the click left column 1
// current (the code cell, or the mark cell whose click moves to column 1). The clicked row
// becomes SelectedRow either way. True when the mark changed.
bool ToggleMarkByClick(WorkArea& work, int clicked_row, int current_column);

}  // namespace edi
