#include "convert/RecordFormat.h"

#include <limits>

#include "convert/codec/Codec.h"

namespace edi {
namespace {

LoadResult Bad(std::int32_t row, std::string_view column, std::string reason) {
    LoadResult r;
    r.status = LoadStatus::kBadValue;
    r.row = row;
    r.column = std::string(column);
    r.reason = std::move(reason);
    return r;
}

LoadResult Loaded() {
    LoadResult r;
    r.status = LoadStatus::kLoaded;
    return r;
}

// A column's digits as a 32-bit integer: blanks around, an optional sign, and a fraction
// rounded half to even as the database drivers hand decimals back ("12.0", "7.5").
bool ParseInteger(std::string_view text, std::int32_t& value) {
    const std::string trimmed = TrimBlanks(text);
    std::string_view s = trimmed;
    bool negative = false;
    if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    std::int64_t magnitude = 0;
    std::size_t i = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        magnitude = magnitude * 10 + (s[i] - '0');
        if (magnitude > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1) return false;
    }
    const std::size_t int_digits = i;
    std::size_t frac_digits = 0;
    int first_frac = 0;
    bool rest_nonzero = false;
    if (i < s.size() && s[i] == '.') {
        for (++i; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i, ++frac_digits) {
            if (frac_digits == 0) {
                first_frac = s[i] - '0';
            } else if (s[i] != '0') {
                rest_nonzero = true;
            }
        }
    }
    if (i != s.size() || int_digits + frac_digits == 0) return false;
    if (first_frac > 5 || (first_frac == 5 && (rest_nonzero || magnitude % 2 == 1))) ++magnitude;
    const std::int64_t signed_value = negative ? -magnitude : magnitude;
    if (signed_value < std::numeric_limits<std::int32_t>::min() ||
        signed_value > std::numeric_limits<std::int32_t>::max()) {
        return false;
    }
    value = static_cast<std::int32_t>(signed_value);
    return true;
}

}  // namespace

DbValue MemoryRows::Value(std::string_view column) const {
    if (AtEnd()) return std::nullopt;
    const DbRow& row = rows_[next_];
    const auto found = row.find(column);
    return found == row.end() ? std::nullopt : found->second;
}

std::string LoadResult::Describe() const {
    switch (status) {
        case LoadStatus::kLoaded:
            return "loaded";
        case LoadStatus::kNoRows:
            return "no rows";
        case LoadStatus::kDatabaseError:
            return reason.empty() ? "database error" : "database error: " + reason;
        case LoadStatus::kBadValue:
            break;
    }
    return "row " + std::to_string(row) + " " + column + ": " + reason;
}

FormatInfo FormatInfoFromRow(const RowReader& row) {
    namespace col = format_col;
    auto text = [&row](std::string_view column) { return row.Value(column).value_or(std::string()); };
    FormatInfo info;
    info.様式識別 = text(col::k様式識別);
    info.シンタックスIDバージョン = text(col::kシンタックスIDバージョン);
    info.格納モード = text(col::k格納モード);
    info.文字集合1バイト = text(col::k1バイト文字集合);
    info.文字集合2バイト = text(col::k2バイト文字集合);
    info.ローカル形式 = text(col::kローカル形式);
    info.XML文字コード = text(col::kXML文字コード);
    return info;
}

LoadResult ItemFromRow(const RowReader& row, std::int32_t row_number, RecordFormatItem& item) {
    namespace col = format_col;
    LoadResult failure;
    auto integer = [&](std::string_view column, std::int32_t& out) {
        const DbValue v = row.Value(column);
        if (!v) {
            failure = Bad(row_number, column, "Null");
            return false;
        }
        if (!ParseInteger(*v, out)) {
            failure = Bad(row_number, column, "not a number: \"" + *v + "\"");
            return false;
        }
        return true;
    };
    auto trimmed = [&row](std::string_view column, std::string_view fallback) {
        const DbValue v = row.Value(column);
        return v ? TrimBlanks(*v) : std::string(fallback);
    };

    if (!integer(col::k項目通番, item.項目通番) || !integer(col::k対応項目通番, item.対応項目通番) ||
        !integer(col::kレベル番号, item.レベル番号) || !integer(col::k項目No, item.項目No)) {
        return failure;
    }
    item.項目位置 = trimmed(col::k項目位置, "");
    item.項目名称 = trimmed(col::k項目名称, "");
    DbValue attribute = row.Value(col::k属性);
    if (!attribute) return Bad(row_number, col::k属性, "Null");
    item.属性 = std::move(*attribute);
    if (!integer(col::k長さ, item.長さ) || !integer(col::k小数部長さ, item.小数部長さ)) return failure;
    item.マルチ明細番号 = trimmed(col::kマルチ明細番号, "0");
    if (!integer(col::k繰返し数, item.繰返し数)) return failure;
    item.固定項目値 = trimmed(col::k固定項目値, "");
    item.変換エラー対処 = trimmed(col::k変換エラー対処, "");
    return Loaded();
}

// One pass in 項目通番 order with a stack of the open group items, stack[k - 1] holding the group
// that encloses the members of level k. Each member adds its 長さ (plus one byte for the decimal
// point when it has decimals) to its group. When the next item is shallower, every group that
// closes sets its enclosing group's 長さ to (its own 長さ × its repeat count); this assignment
// replaces what the enclosing group summed from members listed before the nested group, and
// members listed after it are added again. The converters use the resulting 長さ only as the
// stride between occurrences, and masters are laid out for exactly this rule, so keep it as it is.
LoadResult ComputeGroupLengths(ItemList& items) {
    std::vector<std::int32_t> stack(1, 0);  // stack[0] is the first entry; 0 means no item
    auto item_at = [&items](std::int32_t index) -> RecordFormatItem* {
        return index >= 1 && index <= items.Count() ? &items[index] : nullptr;
    };
    auto close_down_to = [&](std::size_t n) -> bool {
        for (std::size_t i = stack.size() - 1; i >= n && i >= 1; --i) {
            RecordFormatItem* inner = item_at(stack[i]);
            RecordFormatItem* outer = item_at(stack[i - 1]);
            if (inner == nullptr || outer == nullptr) return false;
            outer->長さ = inner->長さ * inner->RepeatFactor();
        }
        stack.resize(n);
        return true;
    };

    const std::int32_t count = items.Count();
    for (std::int32_t index = 1; index <= count; ++index) {
        RecordFormatItem& item = items[index];
        const std::int32_t level = item.レベル番号;
        if (level < 0) return Bad(index, format_col::kレベル番号, "negative level");
        if (item.IsGroup()) {
            stack.resize(static_cast<std::size_t>(level) + 1, 0);
            stack[static_cast<std::size_t>(level)] = index;
            item.長さ = 0;
        }
        if (level != 0) {
            RecordFormatItem* group = static_cast<std::size_t>(level) <= stack.size()
                                          ? item_at(stack[static_cast<std::size_t>(level) - 1])
                                          : nullptr;
            if (group == nullptr) return Bad(index, format_col::kレベル番号, "no enclosing group");
            group->長さ = item.長さ + group->長さ + (item.HasDecimals() ? 1 : 0);
        }
        if (index == count) {
            if (!close_down_to(1)) return Bad(index, format_col::kレベル番号, "no enclosing group");
            break;
        }
        const std::int32_t next_level = items[index + 1].レベル番号;
        if (next_level < 0) return Bad(index + 1, format_col::kレベル番号, "negative level");
        if (static_cast<std::size_t>(next_level) < stack.size()) {
            const std::size_t n = next_level == 0 ? 1 : static_cast<std::size_t>(next_level);
            if (!close_down_to(n)) return Bad(index, format_col::kレベル番号, "no enclosing group");
        }
    }
    return Loaded();
}

LoadResult LoadRecordFormat(ItemList& items, RowReader& rows) {
    ItemList loaded;
    for (std::int32_t row_number = 1; !rows.AtEnd(); ++row_number) {
        RecordFormatItem item;
        LoadResult r = ItemFromRow(rows, row_number, item);
        if (!r.Ok()) return r;
        loaded.Append(std::move(item));
        rows.MoveNext();
    }
    LoadResult r = ComputeGroupLengths(loaded);
    if (r.Ok()) items.Swap(loaded);
    return r;
}

}  // namespace edi
