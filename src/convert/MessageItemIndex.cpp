#include "convert/MessageItemIndex.h"

#include <algorithm>

namespace edi {

void MessageItemIndex::Build(const ItemList& items) {
    items_ = &items;
    const auto count = static_cast<std::size_t>(items.Count());
    // The scope of every item: a search at the item's level L reaches it from inside the group
    // item nearest before it with a level below L, when that item is a group of level L - 1;
    // a level-0 item with no item of a negative level before it belongs to the top.
    std::vector<std::int32_t> scope_of(count + 1, -1);
    std::vector<std::int32_t> below;  // items of rising levels: the candidates for "nearest before, lower"
    for (std::int32_t i = 1; i <= items.Count(); ++i) {
        const std::int32_t level = items[i].レベル番号;
        while (!below.empty() && items[below.back()].レベル番号 >= level) below.pop_back();
        if (below.empty()) {
            if (level == 0) scope_of[static_cast<std::size_t>(i)] = 0;
        } else {
            const RecordFormatItem& outer = items[below.back()];
            if (std::int64_t{outer.レベル番号} + 1 == level && outer.IsGroup()) {
                scope_of[static_cast<std::size_t>(i)] = below.back();
            }
        }
        below.push_back(i);
    }

    std::size_t size = 16;
    while (size < 2 * count + 2) size *= 2;
    slots_.assign(size, Slot{kEmpty, 0});
    mask_ = size - 1;
    next_same_tag_.assign(count + 1, 0);
    std::vector<std::int32_t> last_in_slot(size, 0);
    for (std::int32_t i = 1; i <= items.Count(); ++i) {
        const std::int32_t scope = scope_of[static_cast<std::size_t>(i)];
        if (scope < 0) continue;
        const std::uint64_t key = Key(scope, items[i].項目No);
        const std::size_t s = SlotOf(key);
        if (slots_[s].key == kEmpty) {
            slots_[s] = Slot{key, i};
        } else {
            next_same_tag_[static_cast<std::size_t>(last_in_slot[s])] = i;
        }
        last_in_slot[s] = i;
    }

    table_of_scope_.assign(count + 1, -1);
    one_byte_tags_.clear();
    for (std::int32_t i = items.Count(); i >= 1; --i) {
        const std::int32_t scope = scope_of[static_cast<std::size_t>(i)];
        const std::int32_t tag = items[i].項目No;
        if (scope < 0 || tag < 0 || tag >= kOneByteTags) continue;
        std::int32_t& at = table_of_scope_[static_cast<std::size_t>(scope)];
        if (at < 0) {
            if (one_byte_tags_.size() >= static_cast<std::size_t>(kMaxTables * kOneByteTags)) continue;
            at = static_cast<std::int32_t>(one_byte_tags_.size());
            one_byte_tags_.resize(one_byte_tags_.size() + kOneByteTags, 0);
        }
        one_byte_tags_[static_cast<std::size_t>(at + tag)] = i;  // from the end: the first one stays
    }

    data_items_.clear();
    for (std::int32_t i = 1; i <= items.Count(); ++i) {
        if (!items[i].IsGroup()) data_items_.emplace_back(items[i].項目No, i);
    }
    // By tag, the first item of each tag first; then one entry per tag.
    std::stable_sort(data_items_.begin(), data_items_.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    data_items_.erase(std::unique(data_items_.begin(), data_items_.end(),
                                  [](const auto& a, const auto& b) { return a.first == b.first; }),
                      data_items_.end());

    // The group items of each scope, in list order, stored scope after scope.
    groups_from_.assign(count + 1, 0);
    groups_to_.assign(count + 1, 0);
    std::vector<std::int32_t> per_scope(count + 1, 0);
    for (std::int32_t i = 1; i <= items.Count(); ++i) {
        const std::int32_t scope = scope_of[static_cast<std::size_t>(i)];
        if (scope >= 0 && items[i].IsGroup()) ++per_scope[static_cast<std::size_t>(scope)];
    }
    std::int32_t at = 0;
    for (std::size_t s = 0; s <= count; ++s) {
        groups_from_[s] = groups_to_[s] = at;
        at += per_scope[s];
    }
    scope_groups_.assign(static_cast<std::size_t>(at), 0);
    for (std::int32_t i = 1; i <= items.Count(); ++i) {
        const std::int32_t scope = scope_of[static_cast<std::size_t>(i)];
        if (scope >= 0 && items[i].IsGroup()) {
            scope_groups_[static_cast<std::size_t>(groups_to_[static_cast<std::size_t>(scope)]++)] = i;
        }
    }
}

bool MessageItemIndex::FindGroup(std::int32_t scope, std::int32_t& start, GroupMatch match,
                                 std::int32_t group_number) const {
    if (items_ == nullptr || scope < 0 || static_cast<std::size_t>(scope) >= groups_from_.size()) return false;
    const std::int32_t from = start < 1 ? 1 : start;
    const auto first = scope_groups_.begin() + groups_from_[static_cast<std::size_t>(scope)];
    const auto last = scope_groups_.begin() + groups_to_[static_cast<std::size_t>(scope)];
    for (auto g = std::lower_bound(first, last, from); g != last; ++g) {
        if (GroupNamed((*items_)[*g], match, group_number)) {
            start = *g;
            return true;
        }
    }
    return false;
}

std::int32_t MessageItemIndex::FirstDataItemAnywhere(std::int32_t tag) const {
    const auto at = std::lower_bound(data_items_.begin(), data_items_.end(), tag,
                                     [](const auto& entry, std::int32_t t) { return entry.first < t; });
    return at != data_items_.end() && at->first == tag ? at->second : 0;
}

}  // namespace edi
