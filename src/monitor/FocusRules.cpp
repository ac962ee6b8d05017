#include "monitor/FocusRules.h"

namespace edi {
namespace {

bool Qualifies(const FieldFocusState& f) { return f.enabled && f.visible && !f.locked; }

std::optional<int> Walk(const std::vector<FieldFocusState>& fields, int active, int step, bool may_take) {
    const int count = static_cast<int>(fields.size());
    if (count == 0 || active < 0 || active >= count) return std::nullopt;
    for (int i = (active + step + count) % count; i != active; i = (i + step + count) % count) {
        if (may_take && Qualifies(fields[static_cast<std::size_t>(i)])) return i;
    }
    return std::nullopt;
}

}  // namespace

std::optional<int> NextFieldIndex(const std::vector<FieldFocusState>& fields, int active, int key,
                                  bool active_empty_or_selected) {
    const bool may_take = key == kKeyEnter || key == kKeyDown || active_empty_or_selected;
    return Walk(fields, active, +1, may_take);
}

std::optional<int> PreviousFieldIndex(const std::vector<FieldFocusState>& fields, int active) {
    return Walk(fields, active, -1, true);
}

}  // namespace edi
