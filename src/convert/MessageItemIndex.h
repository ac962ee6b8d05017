// The message-side items of a group indexed once, so that the CII readers find the item of a
// tag or a group marker without scanning the list. A scope is the items one search may reach:
// the whole list at level 0, or the members of one group item at the level below it (up to the
// first item of a smaller level). Within a scope the index gives, per tag, the items of the
// scope's level carrying it, in list order, and the scope's group items.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "convert/CiiReader.h"
#include "convert/RecordFormat.h"

namespace edi {

class MessageItemIndex {
public:
    // Indexes the items; the list must stay as it is while the index is used.
    void Build(const ItemList& items);

    // From start (0 counts as 1), the first item of the scope of group item `scope` (0: the top
    // level) whose 項目№ is the tag, where `start` lies between the scope's first member and its
    // end, as the readers keep it. On success start is the item found.
    bool FindByTag(std::int32_t scope, std::int32_t& start, std::int32_t tag) const {
        std::int32_t i = First(scope, tag);
        const std::int32_t from = start < 1 ? 1 : start;
        while (i != 0 && i < from) i = next_same_tag_[static_cast<std::size_t>(i)];
        if (i == 0) return false;
        start = i;
        return true;
    }
    // The same search for a group item (属性 "M") of the scope that the marker names.
    bool FindGroup(std::int32_t scope, std::int32_t& start, GroupMatch match, std::int32_t group_number) const;
    // The first item of the scope carrying the tag that is not a group item; 0 when none.
    std::int32_t FirstDataItem(std::int32_t scope, std::int32_t tag) const {
        std::int32_t i = First(scope, tag);
        while (i != 0 && (*items_)[i].IsGroup()) i = next_same_tag_[static_cast<std::size_t>(i)];
        return i;
    }
    // The same over the whole list, whatever the item's level.
    std::int32_t FirstDataItemAnywhere(std::int32_t tag) const;

private:
    struct Slot {
        std::uint64_t key = 0;  // scope and tag; kEmpty when unused
        std::int32_t first = 0;
    };
    static constexpr std::uint64_t kEmpty = ~std::uint64_t{0};
    static std::uint64_t Key(std::int32_t scope, std::int32_t tag) {
        return (std::uint64_t{static_cast<std::uint32_t>(scope)} << 32) | static_cast<std::uint32_t>(tag);
    }
    std::size_t SlotOf(std::uint64_t key) const {
        std::size_t s = static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ULL) >> 32) & mask_;
        while (slots_[s].key != key && slots_[s].key != kEmpty) s = (s + 1) & mask_;
        return s;
    }
    std::int32_t First(std::int32_t scope, std::int32_t tag) const {
        if (static_cast<std::uint32_t>(tag) < kOneByteTags &&
            static_cast<std::size_t>(scope) < table_of_scope_.size()) {
            const std::int32_t at = table_of_scope_[static_cast<std::size_t>(scope)];
            if (at >= 0) return one_byte_tags_[static_cast<std::size_t>(at + tag)];
        }
        return slots_.empty() ? 0 : slots_[SlotOf(Key(scope, tag))].first;
    }
    static constexpr std::int32_t kOneByteTags = 240;
    static constexpr std::int32_t kMaxTables = 64;

    const ItemList* items_ = nullptr;
    std::vector<Slot> slots_;  // open addressing, a power of two long
    std::size_t mask_ = 0;
    std::vector<std::int32_t> next_same_tag_;  // by item: the next item of its scope with its tag
    // The first item of every tag below 240 straight by the tag, for the first kMaxTables scopes.
    std::vector<std::int32_t> table_of_scope_;  // by scope: where its table starts, -1 for none
    std::vector<std::int32_t> one_byte_tags_;
    std::vector<std::pair<std::int32_t, std::int32_t>> data_items_;  // (tag, first data item), by tag
    std::vector<std::int32_t> scope_groups_;  // the group items of every scope, scope by scope
    std::vector<std::int32_t> groups_from_;   // by scope item: where its groups start in scope_groups_
    std::vector<std::int32_t> groups_to_;
};

}  // namespace edi
