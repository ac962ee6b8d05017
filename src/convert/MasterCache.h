// The masters one run has read, kept for the run's later conversions. A run converts the files
// of many centers that mostly share their information kinds; reading the same master rows again
// for every file would cost more than the conversion itself. The cache is cleared when a run
// begins, so a master changed between runs counts from the next run on.
#pragma once

#include <map>
#include <string>
#include <tuple>

#include "convert/FormatMasterSource.h"

namespace edi {

// What the cache holds: a load that found its rows, or found none. A database failure or a bad
// value is not kept; the next conversion asks again.
class MasterCache {
public:
    void Clear();

private:
    friend class CachedMasters;
    using Key = std::tuple<std::string, std::string, std::string>;
    template <typename T>
    struct Kept {
        LoadResult result;
        T value;
    };
    std::map<Key, Kept<FormatInfo>> format_;
    std::map<Key, Kept<ItemList>> message_items_;
    std::map<Key, Kept<ItemList>> local_items_;
    std::map<Key, Kept<MessageGroupInfo>> group_info_;
};

// A master source that answers from the cache and asks its source for what the cache lacks.
class CachedMasters final : public FormatMasterSource {
public:
    CachedMasters(FormatMasterSource& source, MasterCache& cache) : source_(source), cache_(cache) {}
    LoadResult LoadFormatInfo(std::string_view info_kind, std::string_view bpid, FormatInfo& info) override;
    LoadResult LoadMessageItems(std::string_view info_kind, std::string_view bpid, ItemList& items) override;
    LoadResult LoadLocalItems(std::string_view info_kind, std::string_view bpid, ItemList& items) override;
    LoadResult LoadMessageGroupInfo(std::string_view partner, std::string_view own_company, std::string_view info_kind,
                                    MessageGroupInfo& info) override;

private:
    FormatMasterSource& source_;
    MasterCache& cache_;
};

}  // namespace edi
