// Where the focus goes from an entry field: the walk over the entry-field table.
#pragma once

#include <optional>
#include <vector>

namespace edi {

inline constexpr int kKeyEnter = 13;
inline constexpr int kKeyDown = 40;

struct FieldFocusState {
    bool enabled = true;
    bool visible = true;
    bool locked = false;
};

// The field to focus after the active one, wrapping round; nothing when the walk comes back
// to the active field. Enter and Down take the first field that is enabled, visible and not
// locked; any other key only when the active field is empty or wholly selected.
std::optional<int> NextFieldIndex(const std::vector<FieldFocusState>& fields, int active, int key,
                                  bool active_empty_or_selected);
// The same walk backwards.
std::optional<int> PreviousFieldIndex(const std::vector<FieldFocusState>& fields, int active);

}  // namespace edi
