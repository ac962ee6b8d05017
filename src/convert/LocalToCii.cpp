#include "convert/LocalToCii.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "convert/AttributeEdit.h"
#include "convert/ByteCopy.h"

namespace edi {
namespace {

namespace code = local_cii_code;

ByteView Slice(ByteView bytes, std::int64_t position, std::int64_t length) {
    if (position < 1 || length <= 0) return {};
    const auto start = static_cast<std::uint64_t>(position - 1);
    if (start >= bytes.size()) return {};
    return bytes.subspan(
        static_cast<std::size_t>(start),
        static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size() - start, static_cast<std::uint64_t>(length))));
}

// Fields are mostly padding: runs of one byte are passed eight bytes at a time, and the word
// that ends a run tells where (bytes in memory order are the word's bytes from the low end).
static_assert(std::endian::native == std::endian::little);
std::size_t SkipRun(ByteView bytes, std::size_t i, std::uint8_t b) {
    const std::uint64_t run = 0x0101010101010101ULL * b;
    for (std::uint64_t word; i + 8 <= bytes.size(); i += 8) {
        std::memcpy(&word, bytes.data() + i, 8);
        if (word != run) return i + static_cast<std::size_t>(std::countr_zero(word ^ run) / 8);
    }
    while (i < bytes.size() && bytes[i] == b) ++i;
    return i;
}

std::size_t SkipRunBack(ByteView bytes, std::size_t first, std::size_t last, std::uint8_t b) {
    const std::uint64_t run = 0x0101010101010101ULL * b;
    for (std::uint64_t word; last >= first + 8; last -= 8) {
        std::memcpy(&word, bytes.data() + last - 8, 8);
        if (word != run) return last - static_cast<std::size_t>(std::countl_zero(word ^ run) / 8);
    }
    while (last > first && bytes[last - 1] == b) --last;
    return last;
}

ByteView TrimSpaces(ByteView bytes) {
    const std::size_t first = SkipRun(bytes, 0, ' ');
    const std::size_t last = SkipRunBack(bytes, first, bytes.size(), ' ');
    return bytes.subspan(first, last - first);
}

void KeepRight(Bytes& text, std::int32_t n) {
    const std::size_t keep = n > 0 ? static_cast<std::size_t>(n) : 0;
    if (text.size() > keep) text.erase(text.begin(), text.end() - static_cast<std::ptrdiff_t>(keep));
}

bool IsDigit(std::uint8_t b) { return b >= '0' && b <= '9'; }
bool IsBlank(std::uint8_t b) { return b == ' ' || b == '\t'; }

// The number's decimal text after moving the point `shift` places right, the fraction dropped,
// as the platform reads a number (blanks skipped, reading stops at the first other character).
// Empty for 0.
void ShiftedNumber(ByteView text, std::int32_t shift, Bytes& out) {
    out.clear();
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    i = SkipRun(text, i, '0');
    const std::size_t digits = i;
    while (i < text.size() && IsDigit(text[i])) ++i;
    out.insert(out.end(), text.begin() + static_cast<std::ptrdiff_t>(digits), text.begin() + static_cast<std::ptrdiff_t>(i));
    for (; i < text.size() && (IsDigit(text[i]) || IsBlank(text[i])); ++i) {
        if (IsDigit(text[i]) && !(out.empty() && text[i] == '0')) out.push_back(text[i]);
    }
    std::int32_t moved = 0;
    if (i < text.size() && text[i] == '.') {
        for (++i; i < text.size() && moved < shift && (IsDigit(text[i]) || IsBlank(text[i])); ++i) {
            if (!IsDigit(text[i])) continue;
            if (!(out.empty() && text[i] == '0')) out.push_back(text[i]);
            ++moved;
        }
    }
    if (out.empty()) return;
    out.insert(out.end(), static_cast<std::size_t>(std::max(0, shift - moved)), '0');
    if (negative) out.insert(out.begin(), '-');
}

// ShiftedNumber where its text is a run of the field's own digits (blanks and zeros in front,
// nothing after, no point to move): that run, in place. false when the number takes more.
bool DigitsInPlace(ByteView text, std::int32_t shift, ByteView& digits) {
    if (shift > 0) return false;
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    i = SkipRun(text, i, '0');
    std::size_t end = i;
    while (end < text.size() && IsDigit(text[end])) ++end;
    if (end != text.size()) return false;
    digits = text.subspan(i, end - i);
    return true;
}

constexpr std::array<bool, 256> kLeadBytes = [] {
    std::array<bool, 256> lead{};
    for (std::size_t b = 0; b < 256; ++b) lead[b] = IsLeadByte(static_cast<std::uint8_t>(b));
    return lead;
}();

bool AllDoubleByte(ByteView sjis) {
    if (sjis.size() % 2 != 0) return false;
    bool all = true;
    for (std::size_t i = 0; i < sjis.size(); i += 2) all &= kLeadBytes[sjis[i]];
    return all;
}

// The value of a date is not 0: a digit other than 0 comes before the first character that ends
// the number as the platform reads one (blanks skipped, a sign in front).
bool NonZeroNumber(ByteView text) {
    auto blank = [](std::uint8_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    std::size_t i = 0;
    while (i < text.size() && blank(text[i])) ++i;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
    for (; i < text.size(); ++i) {
        if (blank(text[i])) continue;
        if (!IsDigit(text[i])) return false;
        if (text[i] != '0') return true;
    }
    return false;
}

// The longest head of at most n bytes that ends on a character boundary.
std::size_t WholeCharacters(ByteView sjis, std::int32_t n) {
    const std::size_t limit = n > 0 ? static_cast<std::size_t>(n) : 0;
    std::size_t i = 0;
    while (i < sjis.size()) {
        const std::size_t next = i + CharLengthAt(sjis, i);
        if (next > limit) break;
        i = next;
    }
    return i;
}

}  // namespace

bool LocalLineReader::Next(Bytes& line) {
    line.clear();
    bool any = false;
    for (;;) {
        const ByteView chunk = in_.Buffered();
        if (chunk.empty()) {
            if (!in_.Refill()) break;
            continue;
        }
        any = true;
        const auto* lf = static_cast<const std::uint8_t*>(std::memchr(chunk.data(), '\n', chunk.size()));
        const std::size_t take = lf == nullptr ? chunk.size() : static_cast<std::size_t>(lf - chunk.data());
        if (line.size() + take > kMaxLine) {
            too_long_ = true;
            return false;
        }
        line.insert(line.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(take));
        in_.Consume(lf == nullptr ? take : take + 1);
        if (lf != nullptr) break;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return any;
}

CiiMessageEncoder::CiiMessageEncoder(ConversionLog& log) : log_(log), writer_(log) {
    value_.reserve(65536);
    scratch_.reserve(65536);
}

void CiiMessageEncoder::SetGroup(const FormatMasters& masters, const CiiGroupHeader& header) {
    masters_ = &masters;
    storage_mode_ = header.StorageMode();
    direction_.assign({'M', static_cast<char>(header.SixteenBitCode())});
    plain_double_bytes_ = direction_ == "MM";
    const ItemList& messages = masters.MessageItems;
    const ItemList& locals = masters.LocalItems;
    plans_.assign(static_cast<std::size_t>(messages.Count()) + 1, Plan{});
    for (std::int32_t m = 1; m <= messages.Count(); ++m) {
        Plan& plan = plans_[static_cast<std::size_t>(m)];
        const RecordFormatItem& message = messages[m];
        const std::string& a = message.属性;
        std::uint8_t probe[3];
        plan.tag_ok = EncodeTag(message.項目No, true, probe) != 0;
        plan.kind = a == "9" || a == "N" ? Kind::kNumber
                    : a == "Y"           ? Kind::kDate
                    : a == "X"           ? Kind::kText
                    : a == "B"           ? Kind::kBinary
                    : a == "K"           ? Kind::kWide
                    : a == "M"           ? Kind::kGroup
                                         : Kind::kNone;
        plan.level = message.レベル番号;
        plan.repeat = message.繰返し数;
        plan.item_number = message.項目No;
        plan.message_length = message.長さ;
        plan.message_decimals = message.小数部長さ;
        for (std::int32_t l = 1; l <= locals.Count(); ++l) {
            if (locals[l].対応項目通番 == message.項目通番) {
                plan.local = l;
                plan.position = LeadingNumber(locals[l].項目位置);
                plan.stride = locals[l].長さ;
                break;
            }
        }
        if (plan.local == 0) continue;
        const RecordFormatItem& local = locals[plan.local];
        plan.length = plan.kind == Kind::kNumber && local.HasDecimals() ? std::int64_t{local.長さ} + 1 : local.長さ;
        // The field an empty value leaves: spaces for texts, the zeros of the record template for
        // numbers and dates; kept only when it indeed gives no element.
        Bytes empty;
        if (plan.kind == Kind::kText || plan.kind == Kind::kWide) {
            empty.assign(static_cast<std::size_t>(std::max(0, local.長さ)), ' ');
        } else if ((plan.kind == Kind::kNumber || plan.kind == Kind::kDate) && local.長さ >= local.小数部長さ &&
                   local.小数部長さ >= 0 && local.長さ < 4096) {
            empty.assign(static_cast<std::size_t>(local.長さ - local.小数部長さ), '0');
            if (plan.kind == Kind::kNumber && local.HasDecimals()) {
                empty.push_back('.');
                empty.insert(empty.end(), static_cast<std::size_t>(local.小数部長さ), '0');
            } else if (local.HasDecimals()) {
                empty.clear();
            }
        }
        if (!empty.empty() && static_cast<std::int64_t>(empty.size()) == plan.length && !Value(plan, empty)) {
            Plan::EmptyForm& form = plan.empty;
            form.size = empty.size();
            form.mask = form.size >= 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * form.size)) - 1;
            CopyBytes(reinterpret_cast<std::uint8_t*>(&form.head), empty.data(), std::min<std::size_t>(8, form.size));
            if (form.size > 8) std::memcpy(&form.tail, empty.data() + form.size - 8, 8);
            form.bytes = std::move(empty);
        }
    }
    // The walk kept as its steps, unless it is too long to keep.
    struct Recording {
        std::vector<Step>& steps;
        bool Add(Step::Op op, std::int32_t item, std::int64_t position = 0) {
            if (steps.size() >= kMaxSteps) return false;
            steps.push_back(Step{op, item, position});
            return true;
        }
        const std::vector<Plan>& plans;
        bool Slot(std::int32_t item, std::int64_t position) {
            // An item without local field that leaves the tags as they are does nothing.
            const Plan& plan = plans[static_cast<std::size_t>(item)];
            return (plan.local == 0 && plan.item_number < 240) || Add(Step::Op::kSlot, item, position);
        }
        bool GroupStart(std::int32_t item) { return Add(Step::Op::kGroupStart, item); }
        bool NextOccurrence() { return Add(Step::Op::kNextOccurrence, 0); }
        bool GroupClose() { return Add(Step::Op::kGroupClose, 0); }
    } recording{steps_, plans_};
    steps_.clear();
    if (!Walk(recording)) steps_.clear();
}

bool CiiMessageEncoder::Value(const Plan& plan, ByteView field) {
    value_.clear();
    value_view_ = {};
    switch (plan.kind) {
        case Kind::kNumber: {
            if (!DigitsInPlace(field, plan.message_decimals, value_view_)) {
                ShiftedNumber(field, std::max(0, plan.message_decimals), value_);
                value_view_ = value_;
            }
            const std::size_t keep = static_cast<std::size_t>(std::max(0, plan.message_length));
            if (value_view_.size() > keep) {
                WriteErrorLog(log_, kNumberTooLong,
                              "項目№=" + std::to_string(plan.item_number) + " " + ToUnicodeText(value_view_), 1);
                value_view_ = value_view_.last(keep);
            }
            break;
        }
        case Kind::kDate: {
            if (plan.length == 6 && field.size() >= 2 && IsDigit(field[0]) && IsDigit(field[1])) {
                const bool twenties = (field[0] - '0') * 10 + (field[1] - '0') <= 50;
                value_.push_back(twenties ? '2' : '1');
                value_.push_back(twenties ? '0' : '9');
            }
            value_.insert(value_.end(), field.begin(), field.end());
            KeepRight(value_, plan.message_length);
            const std::string_view as_text(reinterpret_cast<const char*>(value_.data()), value_.size());
            if (as_text != "20000000" && NonZeroNumber(value_)) value_view_ = value_;
            break;
        }
        case Kind::kText:
            value_view_ = TrimSpaces(field);
            break;
        case Kind::kBinary:
            value_view_ = field;
            break;
        case Kind::kWide: {
            ByteView wide = TrimSpaces(field);
            if (AllDoubleByte(wide)) {
                const std::size_t limit = static_cast<std::size_t>(std::max(0, plan.message_length)) & ~std::size_t{1};
                wide = wide.first(std::min(wide.size(), limit));
            } else {
                scratch_ = ToAnsiBytes(ToFullWidth(ToUnicodeText(wide)));
                wide = ByteView(scratch_).first(WholeCharacters(scratch_, plan.message_length));
            }
            if (plain_double_bytes_) {
                value_view_ = wide;
            } else {
                DoubleBytesToText(wide, direction_, value_);
                value_view_ = value_;
            }
            break;
        }
        case Kind::kGroup:
        case Kind::kNone:
            break;
    }
    return !value_view_.empty();
}

bool CiiMessageEncoder::WriteMarker(const RecordFormatItem& group_item) {
    if (!writer_.TwoByteTags()) {
        writer_.AppendMarker(kCiiGroupStart);
        return true;
    }
    std::uint8_t probe[3];
    if (EncodeGroupNumber(group_item.マルチ明細番号, probe) == 0) {
        WriteErrorLog(log_, code::kBadGroupNumber, "", 0);
        return false;
    }
    if (LeadingNumber(group_item.マルチ明細番号) != 0) writer_.AppendMarker(kCiiTwoByteTags);
    writer_.AppendGroupStart(group_item.マルチ明細番号);
    return true;
}

void CiiMessageEncoder::MarkOccurrencesWritten() {
    if (all_written_) return;
    all_written_ = true;
    for (std::size_t d = 0; d < groups_.size(); ++d) {
        OpenGroup& group = groups_[d];
        if (group.occurrence_written) continue;
        for (; group.pending > 0; --group.pending) EndOccurrence(d);
        group.occurrence_written = true;
        group.has_data = true;
    }
}

void CiiMessageEncoder::EndOccurrence(std::size_t depth) {
    groups_[depth].last_fb = writer_.ElementAreaSize();
    writer_.AppendMarker(kCiiOccurrenceEnd);
}

[[gnu::always_inline]] inline bool CiiMessageEncoder::WriteElement(const Plan& plan) {
    if (plan.tag_ok && !writer_.TwoByteTags() && plan.item_number < 240 && value_view_.size() < 240) {
        if (!all_written_) MarkOccurrencesWritten();
        writer_.AppendShortElement(plan.item_number, value_view_);
        return true;
    }
    return WriteLongElement(plan);
}

bool CiiMessageEncoder::WriteLongElement(const Plan& plan) {
    if (!plan.tag_ok) {
        WriteErrorLog(log_, code::kBadTag, "", 0);
        return false;
    }
    if (value_view_.size() > 0xFFFF) {
        writer_.AppendElement(plan.item_number, value_view_);  // reports the length and leaves the element out
        return true;
    }
    if (!all_written_) MarkOccurrencesWritten();
    if (!writer_.AppendShortElement(plan.item_number, value_view_))
        writer_.AppendElement(plan.item_number, value_view_);
    return true;
}

template <class Visitor>
bool CiiMessageEncoder::Walk(Visitor& visit) {
    walk_levels_.clear();
    std::int64_t offset = 0;  // (occurrence - 1) × stride summed over the open groups
    const auto count = static_cast<std::int32_t>(plans_.size()) - 1;
    std::int32_t i = 1;
    for (;;) {
        const auto depth = static_cast<std::int32_t>(walk_levels_.size());
        if (depth > 0 && (i > count || plans_[static_cast<std::size_t>(i)].level < depth)) {
            WalkLevel& level = walk_levels_.back();
            ++level.occurrence;
            if (level.occurrence <= plans_[static_cast<std::size_t>(level.item)].repeat) {
                if (!visit.NextOccurrence()) return false;
                offset += level.stride;
                i = level.item + 1;
                continue;
            }
            if (!visit.GroupClose()) return false;
            offset -= (level.occurrence - 2) * level.stride;
            walk_levels_.pop_back();
            continue;
        }
        if (i > count) break;
        const Plan& plan = plans_[static_cast<std::size_t>(i)];
        if (plan.kind == Kind::kGroup) {
            if (!visit.GroupStart(i)) return false;
            walk_levels_.push_back(WalkLevel{i, 1, plan.stride});
        } else if (!visit.Slot(i, plan.position + offset)) {
            return false;
        }
        ++i;
    }
    return true;
}

bool CiiMessageEncoder::HoldsEmptyForm(const Plan::EmptyForm& form, ByteView field, const std::uint8_t* record_end) {
    if (form.size == 0 || field.size() != form.size) return false;
    const std::uint8_t* p = field.data();
    std::uint64_t word = 0;
    if (form.size <= 8) {
        if (record_end - p >= 8) {
            std::memcpy(&word, p, 8);
        } else {
            CopyBytes(reinterpret_cast<std::uint8_t*>(&word), p, form.size);
        }
        return (word & form.mask) == form.head;
    }
    if (form.size <= 16) {
        std::uint64_t tail;
        std::memcpy(&word, p, 8);
        std::memcpy(&tail, p + form.size - 8, 8);
        return word == form.head && tail == form.tail;
    }
    return std::memcmp(p, form.bytes.data(), form.size) == 0;
}

[[gnu::always_inline]] inline bool CiiMessageEncoder::Slot(std::int32_t item, std::int64_t position, ByteView record) {
    const Plan& plan = plans_[static_cast<std::size_t>(item)];
    if (plan.item_number >= 240) writer_.SwitchToTwoByteTags();
    if (plan.local == 0) return true;
    const ByteView field = Slice(record, position, plan.length);
    bool has_value = false;
    if (HoldsEmptyForm(plan.empty, field, record.data() + record.size())) {
        // A field inside the record that holds its empty form gives no element.
    } else if (plan.kind == Kind::kText) {
        value_view_ = TrimSpaces(field);
        has_value = !value_view_.empty();
    } else {
        has_value = Value(plan, field);
    }
    return !has_value || WriteElement(plan);
}

bool CiiMessageEncoder::GroupStart(std::int32_t item) {
    // The marker goes where the walk reaches the group, inside the enclosing occurrences.
    MarkOccurrencesWritten();
    if (!WriteMarker(masters_->MessageItems[item])) return false;
    groups_.push_back(OpenGroup{});
    all_written_ = false;
    return true;
}

void CiiMessageEncoder::NextOccurrence() {
    const std::size_t d = groups_.size() - 1;
    OpenGroup& group = groups_[d];
    if (group.occurrence_written) {
        EndOccurrence(d);
    } else {
        ++group.pending;
    }
    group.occurrence_written = false;
    all_written_ = false;
}

void CiiMessageEncoder::GroupClose() {
    const OpenGroup& group = groups_.back();
    if (group.occurrence_written || !group.has_data) {
        writer_.AppendMarker(kCiiGroupEnd);  // a group without any data is its marker and 0xFC
    } else {
        // Trailing empty occurrences: the 0xFB after the last written one ends the group.
        writer_.ReplaceAreaByte(group.last_fb, kCiiGroupEnd);
    }
    groups_.pop_back();
}

CiiMessageEncoder::Result CiiMessageEncoder::EncodeCiiMessage(ByteView record, std::int32_t message_number,
                                                              ByteSink& sink) {
    writer_.Begin(message_number);
    groups_.clear();
    all_written_ = true;
    bool written = true;
    if (!steps_.empty()) {
        for (const Step& step : steps_) {
            switch (step.op) {
                case Step::Op::kSlot:
                    written = Slot(step.item, step.position, record);
                    break;
                case Step::Op::kGroupStart:
                    written = GroupStart(step.item);
                    break;
                case Step::Op::kNextOccurrence:
                    NextOccurrence();
                    break;
                case Step::Op::kGroupClose:
                    GroupClose();
                    break;
            }
            if (!written) break;
        }
    } else {
        // A walk too long to keep is taken message by message.
        struct Writing {
            CiiMessageEncoder& encoder;
            ByteView record;
            bool Slot(std::int32_t item, std::int64_t position) { return encoder.Slot(item, position, record); }
            bool GroupStart(std::int32_t item) { return encoder.GroupStart(item); }
            bool NextOccurrence() {
                encoder.NextOccurrence();
                return true;
            }
            bool GroupClose() {
                encoder.GroupClose();
                return true;
            }
        } writing{*this, record};
        written = Walk(writing);
    }
    if (!written) return Result::kFailed;

    ByteView finished;
    if (!writer_.Finish(finished)) return Result::kNotWritten;
    switch (WriteStorageBlocks(sink, finished, storage_mode_)) {
        case StoreResult::kWritten:
            return Result::kWritten;
        case StoreResult::kUnknownMode:
            return Result::kNotWritten;
        case StoreResult::kSinkFailed:
            break;
    }
    return Result::kSinkFailed;
}

namespace {

std::string FieldText(ByteView line, std::size_t from, std::size_t length) {
    if (from >= line.size()) return {};
    return ToUnicodeText(TrimSpaces(line.subspan(from, std::min(length, line.size() - from))));
}

class LocalToCiiWriter {
public:
    LocalToCiiWriter(FormatMasterSource& masters, ConversionLog& log, const Clock& clock,
                     const LocalToCiiOptions& options, ByteSink& sink)
        : masters_(masters), log_(log), clock_(clock), options_(options), sink_(sink), encoder_(log) {}

    // false after a failure (logged).
    bool Run(ChunkedInput& input) {
        LocalLineReader lines(input);
        Bytes line;
        Bytes key;
        while (lines.Next(line)) {
            if (TrimSpaces(line).empty()) continue;
            const ByteView view(line);
            const ByteView line_key = view.first(std::min(kLocalKeySize, view.size()));
            if (!group_open_ || !std::equal(line_key.begin(), line_key.end(), key.begin(), key.end())) {
                if (group_open_ && !EndGroup()) return false;
                group_open_ = true;
                key.assign(line_key.begin(), line_key.end());
                if (!StartGroup(view)) {
                    group_open_ = false;
                    return false;
                }
            }
            ++message_count_;
            const ByteView record = view.size() > kLocalKeySize ? view.subspan(kLocalKeySize) : ByteView();
            switch (encoder_.EncodeCiiMessage(record, message_count_, sink_)) {
                case CiiMessageEncoder::Result::kWritten:
                case CiiMessageEncoder::Result::kNotWritten:
                    break;
                case CiiMessageEncoder::Result::kFailed:
                    // The group keeps the messages written so far and ends with their count.
                    --message_count_;
                    EndGroup();
                    return false;
                case CiiMessageEncoder::Result::kSinkFailed:
                    return SinkFailed();
            }
        }
        if (lines.TooLong()) {
            WriteErrorLog(log_, code::kGeneralFailure, "line too long", 0);
            return false;
        }
        if (input.ReadFailed()) {
            WriteErrorLog(log_, code::kGeneralFailure, "cannot read the local file", 0);
            return false;
        }
        return !group_open_ || EndGroup();
    }
    bool SinkBroken() const { return sink_broken_; }

private:
    bool SinkFailed() {
        sink_broken_ = true;
        WriteErrorLog(log_, code::kGeneralFailure, "cannot write the CII file", 0);
        return false;
    }
    bool EndGroup() {
        group_open_ = false;
        CiiGroupEnd end;
        end.Fill(message_count_);
        return WriteGroupEnd(sink_, end) || SinkFailed();
    }
    bool Failed(const LoadResult& r, std::int32_t no_rows_code) {
        WriteErrorLog(log_, r.status == LoadStatus::kNoRows ? no_rows_code : code::kGeneralFailure,
                      r.status == LoadStatus::kNoRows ? "" : r.Describe(), 0);
        return false;
    }
    bool StartGroup(ByteView line) {
        const std::string info_kind = FieldText(line, 5, 4);
        const std::string own_company = FieldText(line, 15, 12);
        const std::string partner = FieldText(line, 27, 12);
        MessageGroupInfo info;
        LoadResult r = masters_.LoadMessageGroupInfo(partner, own_company, info_kind, info);
        if (!r.Ok()) return Failed(r, code::kNoMessageGroupInfo);
        const std::string bpid = TrimBlanks(info.BPID);
        if (options_.summary != nullptr) {
            options_.summary->Bpid = bpid;
            options_.summary->InfoKind = info_kind;
        }
        header_.Fill(info, clock_.Now());
        r = masters_.LoadFormatInfo(info_kind, bpid, masters_loaded_.Format);
        if (!r.Ok()) return Failed(r, code::kNoFormatInfo);
        if (options_.summary != nullptr) options_.summary->Format = masters_loaded_.Format;
        r = masters_.LoadMessageItems(info_kind, bpid, masters_loaded_.MessageItems);
        if (!r.Ok()) return Failed(r, code::kNoMessageItems);
        r = masters_.LoadLocalItems(info_kind, bpid, masters_loaded_.LocalItems);
        if (!r.Ok()) return Failed(r, code::kNoLocalItems);
        encoder_.SetGroup(masters_loaded_, header_);
        message_count_ = 0;
        return WriteGroupHeader(sink_, header_) || SinkFailed();
    }

    FormatMasterSource& masters_;
    ConversionLog& log_;
    const Clock& clock_;
    const LocalToCiiOptions& options_;
    ByteSink& sink_;
    CiiMessageEncoder encoder_;
    CiiGroupHeader header_;
    FormatMasters masters_loaded_;
    bool group_open_ = false;
    bool sink_broken_ = false;
    std::int32_t message_count_ = 0;
};

}  // namespace

void WriteCiiFromLocal(const std::filesystem::path& local_path, const std::filesystem::path& cii_path,
                       FormatMasterSource& masters, ConversionLog& log, const Clock& clock,
                       const LocalToCiiOptions& options) {
    FileWarnings warnings(log);
    ChunkedInput input;
    std::string error;
    if (!input.Open(local_path, error)) {
        WriteErrorLog(log, code::kGeneralFailure, error, 0);
        return;
    }
    if (options.progress) input.SetProgress(options.progress);
    if (options.sink != nullptr) {
        LocalToCiiWriter(masters, log, clock, options, *options.sink).Run(input);
        return;
    }
    FileSink file;
    if (!file.Open(cii_path, FileSink::Mode::kAppend, error)) {
        WriteErrorLog(log, code::kGeneralFailure, error, 0);
        return;
    }
    LocalToCiiWriter writer(masters, log, clock, options, file);
    writer.Run(input);
    // Records already written stay, as complete groups; only a failed write leaves the file as it was.
    if (writer.SinkBroken()) {
        file.Abandon();
    } else if (!file.Commit(error)) {
        WriteErrorLog(log, code::kGeneralFailure, error, 0);
    }
}

}  // namespace edi
