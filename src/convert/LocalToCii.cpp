#include "convert/LocalToCii.h"

#include <algorithm>
#include <cstring>

#include "convert/AttributeEdit.h"

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

// Fields are mostly padding: runs of one byte are passed eight bytes at a time.
std::size_t SkipRun(ByteView bytes, std::size_t i, std::uint8_t b) {
    const std::uint64_t run = 0x0101010101010101ULL * b;
    for (std::uint64_t word; i + 8 <= bytes.size(); i += 8) {
        std::memcpy(&word, bytes.data() + i, 8);
        if (word != run) break;
    }
    while (i < bytes.size() && bytes[i] == b) ++i;
    return i;
}

std::size_t SkipRunBack(ByteView bytes, std::size_t first, std::size_t last, std::uint8_t b) {
    const std::uint64_t run = 0x0101010101010101ULL * b;
    for (std::uint64_t word; last >= first + 8; last -= 8) {
        std::memcpy(&word, bytes.data() + last - 8, 8);
        if (word != run) break;
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

bool AllDoubleByte(ByteView sjis) {
    for (std::size_t i = 0; i < sjis.size(); i += 2) {
        if (!IsLeadByte(sjis[i]) || i + 1 >= sjis.size()) return false;
    }
    return true;
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
        const std::string& a = messages[m].属性;
        std::uint8_t probe[3];
        plan.tag_ok = EncodeTag(messages[m].項目No, true, probe) != 0;
        plan.kind = a == "9" || a == "N" ? Kind::kNumber
                    : a == "Y"           ? Kind::kDate
                    : a == "X"           ? Kind::kText
                    : a == "B"           ? Kind::kBinary
                    : a == "K"           ? Kind::kWide
                    : a == "M"           ? Kind::kGroup
                                         : Kind::kNone;
        for (std::int32_t l = 1; l <= locals.Count(); ++l) {
            if (locals[l].対応項目通番 == messages[m].項目通番) {
                plan.local = l;
                plan.position = LeadingNumber(locals[l].項目位置);
                plan.stride = locals[l].長さ;
                break;
            }
        }
    }
}

bool CiiMessageEncoder::Value(const Plan& plan, const RecordFormatItem& message, const RecordFormatItem& local,
                              ByteView record, std::int64_t position) {
    value_.clear();
    value_view_ = {};
    switch (plan.kind) {
        case Kind::kNumber: {
            const ByteView text = Slice(record, position, std::int64_t{local.長さ} + (local.HasDecimals() ? 1 : 0));
            ShiftedNumber(text, std::max(0, message.小数部長さ), value_);
            value_view_ = value_;
            const std::size_t keep = static_cast<std::size_t>(std::max(0, message.長さ));
            if (value_view_.size() > keep) {
                WriteErrorLog(log_, kNumberTooLong,
                              "項目№=" + std::to_string(message.項目No) + " " + ToUnicodeText(value_view_), 1);
                value_view_ = value_view_.last(keep);
            }
            break;
        }
        case Kind::kDate: {
            const ByteView text = Slice(record, position, local.長さ);
            if (local.長さ == 6 && text.size() >= 2 && IsDigit(text[0]) && IsDigit(text[1])) {
                const bool twenties = (text[0] - '0') * 10 + (text[1] - '0') <= 50;
                value_.push_back(twenties ? '2' : '1');
                value_.push_back(twenties ? '0' : '9');
            }
            value_.insert(value_.end(), text.begin(), text.end());
            KeepRight(value_, message.長さ);
            const std::string_view as_text(reinterpret_cast<const char*>(value_.data()), value_.size());
            if (as_text != "20000000" && LeadingNumber(as_text) != 0) value_view_ = value_;
            break;
        }
        case Kind::kText:
            value_view_ = TrimSpaces(Slice(record, position, local.長さ));
            break;
        case Kind::kBinary:
            value_view_ = Slice(record, position, local.長さ);
            break;
        case Kind::kWide: {
            ByteView wide = TrimSpaces(Slice(record, position, local.長さ));
            if (AllDoubleByte(wide)) {
                const std::size_t limit = static_cast<std::size_t>(std::max(0, message.長さ)) & ~std::size_t{1};
                wide = wide.first(std::min(wide.size(), limit));
            } else {
                scratch_ = ToAnsiBytes(ToFullWidth(ToUnicodeText(wide)));
                wide = ByteView(scratch_).first(WholeCharacters(scratch_, message.長さ));
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

bool CiiMessageEncoder::WriteElement(std::int32_t index) {
    const RecordFormatItem& item = masters_->MessageItems[index];
    if (!plans_[static_cast<std::size_t>(index)].tag_ok) {
        WriteErrorLog(log_, code::kBadTag, "", 0);
        return false;
    }
    if (value_view_.size() > 0xFFFF) {
        writer_.AppendElement(item.項目No, value_view_);  // reports the length and leaves the element out
        return true;
    }
    MarkOccurrencesWritten();
    if (!writer_.AppendShortElement(item.項目No, value_view_)) writer_.AppendElement(item.項目No, value_view_);
    return true;
}

CiiMessageEncoder::Result CiiMessageEncoder::EncodeCiiMessage(ByteView record, std::int32_t message_number,
                                                              ByteSink& sink) {
    const ItemList& items = masters_->MessageItems;
    const ItemList& locals = masters_->LocalItems;
    writer_.Begin(message_number);
    groups_.clear();

    const std::int32_t count = items.Count();
    std::int32_t i = 1;
    for (;;) {
        const auto depth = static_cast<std::int32_t>(groups_.size());
        if (depth > 0 && (i > count || items[i].レベル番号 < depth)) {
            const std::size_t d = groups_.size() - 1;
            OpenGroup& group = groups_[d];
            const RecordFormatItem& group_item = items[group.item];
            ++group.occurrence;
            if (group.occurrence <= group_item.繰返し数) {
                if (group.occurrence_written) {
                    EndOccurrence(d);
                } else {
                    ++group.pending;
                }
                group.occurrence_written = false;
                i = group.item + 1;
                continue;
            }
            if (group.occurrence_written || !group.has_data) {
                writer_.AppendMarker(kCiiGroupEnd);  // a group without any data is its marker and 0xFC
            } else {
                // Trailing empty occurrences: the 0xFB after the last written one ends the group.
                writer_.ReplaceAreaByte(group.last_fb, kCiiGroupEnd);
            }
            groups_.pop_back();
            continue;
        }
        if (i > count) break;
        const RecordFormatItem& item = items[i];
        const Plan& plan = plans_[static_cast<std::size_t>(i)];
        if (plan.kind == Kind::kGroup) {
            // The marker goes where the walk reaches the group, inside the enclosing occurrences.
            MarkOccurrencesWritten();
            if (!WriteMarker(item)) return Result::kFailed;
            OpenGroup group;
            group.item = i;
            group.stride = plan.stride;
            groups_.push_back(group);
            ++i;
            continue;
        }
        if (item.項目No >= 240) writer_.SwitchToTwoByteTags();
        if (plan.local != 0) {
            std::int64_t position = plan.position;
            for (const OpenGroup& g : groups_) position += (g.occurrence - 1) * g.stride;
            if (Value(plan, item, locals[plan.local], record, position) && !WriteElement(i)) return Result::kFailed;
        }
        ++i;
    }

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
