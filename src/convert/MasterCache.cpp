#include "convert/MasterCache.h"

namespace edi {
namespace {

// The kept answer when there is one; otherwise the source's, kept when it found rows or none.
// A load that found no rows leaves the caller's value as it was, as the source does.
template <typename T, typename Load>
LoadResult Answer(std::map<std::tuple<std::string, std::string, std::string>, T>& kept,
                  std::tuple<std::string, std::string, std::string> key, decltype(T::value)& out, Load load) {
    if (const auto found = kept.find(key); found != kept.end()) {
        if (found->second.result.Ok()) out = found->second.value;
        return found->second.result;
    }
    LoadResult result = load();
    if (result.Ok()) {
        kept.emplace(std::move(key), T{result, out});
    } else if (result.status == LoadStatus::kNoRows) {
        kept.emplace(std::move(key), T{result, {}});
    }
    return result;
}

}  // namespace

void MasterCache::Clear() {
    format_.clear();
    message_items_.clear();
    local_items_.clear();
    group_info_.clear();
}

LoadResult CachedMasters::LoadFormatInfo(std::string_view info_kind, std::string_view bpid, FormatInfo& info) {
    return Answer(cache_.format_, {std::string(info_kind), std::string(bpid), ""}, info,
                  [&] { return source_.LoadFormatInfo(info_kind, bpid, info); });
}

LoadResult CachedMasters::LoadMessageItems(std::string_view info_kind, std::string_view bpid, ItemList& items) {
    return Answer(cache_.message_items_, {std::string(info_kind), std::string(bpid), ""}, items,
                  [&] { return source_.LoadMessageItems(info_kind, bpid, items); });
}

LoadResult CachedMasters::LoadLocalItems(std::string_view info_kind, std::string_view bpid, ItemList& items) {
    return Answer(cache_.local_items_, {std::string(info_kind), std::string(bpid), ""}, items,
                  [&] { return source_.LoadLocalItems(info_kind, bpid, items); });
}

LoadResult CachedMasters::LoadMessageGroupInfo(std::string_view partner, std::string_view own_company,
                                               std::string_view info_kind, MessageGroupInfo& info) {
    return Answer(cache_.group_info_, {std::string(partner), std::string(own_company), std::string(info_kind)}, info,
                  [&] { return source_.LoadMessageGroupInfo(partner, own_company, info_kind, info); });
}

}  // namespace edi
