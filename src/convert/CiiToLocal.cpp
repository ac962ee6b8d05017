#include "convert/CiiToLocal.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

#include "convert/AttributeEdit.h"
#include "convert/MessageItemIndex.h"

namespace edi {
namespace {

namespace code = cii_read_code;

constexpr std::uint8_t kCrLf[] = {'\r', '\n'};
// A record may outgrow its template by one element at most; more would only come from a
// damaged file whose occurrences run past the masters' repeat counts.
constexpr std::size_t kRecordSlack = 65536;

std::int64_t PositionOf(const RecordFormatItem& item) { return LeadingNumber(item.項目位置); }

void EmptyValueOf(const RecordFormatItem& item, Bytes& out) {
    out.clear();
    const std::string& a = item.属性;
    if (a == "K") {
        for (std::int32_t i = 0; i < item.長さ / 2; ++i) out.insert(out.end(), {0x81, 0x40});
    } else if (a == "9" || a == "N" || a == "Y") {
        out.assign(static_cast<std::size_t>(std::max(0, item.長さ - item.小数部長さ)), '0');
        if (item.HasDecimals()) {
            out.push_back('.');
            out.insert(out.end(), static_cast<std::size_t>(std::max(0, item.小数部長さ)), '0');
        }
    }
}

// The group output: one local file per group, opened for append. A group that goes to the same
// file as the one before keeps the file open; the file is committed when another file is needed
// and at the end, so lines already written stay even when the conversion stops.
class LocalOutput {
public:
    explicit LocalOutput(ByteSink* fixed) : fixed_(fixed) {}

    bool Open(const std::filesystem::path& path, std::string& error) {
        open_ = true;
        if (fixed_ != nullptr || (pending_ && path == path_)) return true;
        if (!Commit(error)) return false;
        if (!file_.Open(path, FileSink::Mode::kAppend, error)) {
            open_ = false;
            return false;
        }
        path_ = path;
        pending_ = true;
        return true;
    }
    void Close() { open_ = false; }
    bool IsOpen() const { return open_; }
    bool Write(ByteView key, ByteView record) {
        ByteSink& sink = fixed_ != nullptr ? *fixed_ : static_cast<ByteSink&>(file_);
        return sink.Write(key) && sink.Write(record) && sink.Write(kCrLf);
    }
    bool Commit(std::string& error) {
        if (!pending_) return true;
        pending_ = false;
        return file_.Commit(error);
    }
    void Abandon() {
        file_.Abandon();
        pending_ = false;
        open_ = false;
    }

private:
    ByteSink* fixed_;
    FileSink file_;
    std::filesystem::path path_;
    bool pending_ = false;
    bool open_ = false;
};

enum class Decoded {
    kWritten,  // the end byte was reached
    kEnded,    // the file ended inside the message: dropped without a line
    kStop,     // a failure was logged
};

class CiiToLocalReader {
public:
    CiiToLocalReader(ChunkedInput& in, const std::filesystem::path& local_template, FormatMasterSource& masters,
                     ConversionLog& log, const CiiToLocalOptions& options)
        : in_(in),
          stored_(in),
          local_template_(local_template),
          masters_(masters),
          log_(log),
          options_(options),
          output_(options.sink) {
        scratch_.reserve(1024);
    }

    void Run();

private:
    bool Step();  // one record; false at the end of the file or after a failure
    bool SkipOrFail(std::int32_t count);
    bool PassOver();  // two bytes of no known record kind; false when the run is too long
    struct Depth {
        std::int32_t group = 0;       // message-side group item; 0 at the top
        std::int32_t start = 0;       // where the next tag search starts
        std::int64_t occurrence = 1;  // 1-based
        std::int64_t stride = 0;      // 長さ of the local group item
        std::int64_t offset = 0;      // (occurrence - 1) × stride here and in every enclosing depth
    };
    // What a message item's elements need, worked out once per group.
    struct ItemPlan {
        std::int32_t local = 0;     // the local item paired by 対応項目通番; 0: the value goes nowhere
        std::int64_t position = 0;  // its 項目位置
        LocalEdit edit;
    };

    bool ReadGroupHeader();
    bool LoadGroup();
    Decoded DecodeCiiMessage(std::int64_t record_length, std::int64_t prefix_length);
    Decoded DecodeElement(StoredCursor& cursor, std::int32_t tag, std::int64_t& remaining);
    void PlaceElement(std::int32_t tag, ByteView value);
    void OpenGroup(GroupMatch match, std::int32_t number);
    void Fail(std::int32_t failure, std::string_view text = "") { WriteErrorLog(log_, failure, text, 0); }

    ChunkedInput& in_;
    CiiStoredReader stored_;
    const std::filesystem::path& local_template_;
    FormatMasterSource& masters_;
    ConversionLog& log_;
    const CiiToLocalOptions& options_;
    LocalOutput output_;

    CiiGroupHeader header_;
    FormatMasters group_;
    std::vector<ItemPlan> plans_;  // by message index
    MessageItemIndex index_;
    Bytes template_;
    Bytes record_;
    Bytes key_;
    std::string direction_;  // double-byte data: header code then "M"
    std::vector<Depth> depths_;
    std::int64_t phantom_depth_ = 0;  // groups opened by markers that name no group item
    std::unique_ptr<std::uint8_t[]> value_{new std::uint8_t[65536]};  // a value that spans chunks or blocks
    Bytes scratch_;
    LocalRecordTarget target_{record_, 0, scratch_, log_};
    std::int64_t skipped_ = 0;  // bytes of unknown record kinds in a row
    bool test_group_ = false;   // the group's 運用モード is "1"
};

void CiiToLocalReader::Run() {
    while (Step()) {
    }
    std::string error;
    if (in_.ReadFailed() && log_.ErrorCode.empty()) Fail(code::kGeneralFailure, "cannot read the CII file");
    if (!output_.Commit(error)) Fail(code::kGeneralFailure, error);
}

bool CiiToLocalReader::Step() {
    std::uint8_t kind[2];
    std::int32_t count = 2;
    if (ReadBytesCounted(in_, kind, count)) return false;
    const CiiRecordKind record_kind = ClassifyRecordKind(kind[0], kind[1]);
    if (record_kind == CiiRecordKind::kGroupHeader || record_kind == CiiRecordKind::kGroupEnd ||
        record_kind == CiiRecordKind::kData) {
        skipped_ = 0;
    }
    switch (record_kind) {
        case CiiRecordKind::kGroupHeader:
            return ReadGroupHeader() && LoadGroup();
        case CiiRecordKind::kGroupEnd:
            output_.Close();
            return SkipOrFail(static_cast<std::int32_t>(kCiiControlBodySize));
        case CiiRecordKind::kOtherControl:
            return PassOver();
        case CiiRecordKind::kDigitNotData:
            WriteErrorLog(log_, code::kBadRecordKind, "-01", 1);
            return PassOver();
        case CiiRecordKind::kUnknown:
            WriteErrorLog(log_, code::kBadRecordKind, "-02", 1);
            return PassOver();
        case CiiRecordKind::kData:
            break;
    }
    if (header_.StorageFlagsAre("20")) return SkipOrFail(static_cast<std::int32_t>(kCiiControlBodySize));
    std::uint8_t prefix[15];
    std::int32_t short_count = 7;
    std::int32_t long_count = 8;
    const bool long_form = !ReadBytesCounted(in_, prefix, short_count) && prefix[5] == 0x80 && prefix[6] == 0x80;
    if (short_count != 0 || (long_form && ReadBytesCounted(in_, prefix + 7, long_count))) {
        Fail(code::kTruncated);
        return false;
    }
    CiiDataPrefix decoded;
    DecodeDataPrefix(ByteView(prefix, long_form ? 15 : 7), decoded);
    return DecodeCiiMessage(std::int64_t{decoded.length} + 1, static_cast<std::int64_t>(decoded.size)) !=
           Decoded::kStop;
}

bool CiiToLocalReader::PassOver() {
    skipped_ += 2;
    if (skipped_ <= kMaxSkippedBytes) return true;
    Fail(code::kNoRecord, NoRecordText(in_.Offset() - static_cast<std::uint64_t>(skipped_)));
    return false;
}

bool CiiToLocalReader::SkipOrFail(std::int32_t count) {
    if (!ReadBytesCounted(in_, nullptr, count)) return true;
    Fail(code::kTruncated);
    return false;
}

bool CiiToLocalReader::ReadGroupHeader() {
    std::int32_t count = static_cast<std::int32_t>(kCiiControlBodySize);
    if (ReadBytesCounted(in_, header_.body.data(), count)) {
        Fail(code::kTruncated);
        return false;
    }
    return true;
}

bool CiiToLocalReader::LoadGroup() {
    const std::string bpid = header_.Bpid();
    const std::string info_kind = header_.InfoKind();
    if (options_.summary != nullptr) {
        options_.summary->Bpid = bpid;
        options_.summary->InfoKind = info_kind;
    }
    auto failed = [this](const LoadResult& r, std::int32_t no_rows_code) {
        if (r.status == LoadStatus::kNoRows) {
            Fail(no_rows_code);
        } else {
            Fail(code::kGeneralFailure, r.Describe());
        }
        return false;
    };
    LoadResult r = masters_.LoadFormatInfo(info_kind, bpid, group_.Format);
    if (!r.Ok()) return failed(r, code::kNoFormatInfo);
    if (options_.summary != nullptr) options_.summary->Format = group_.Format;
    r = masters_.LoadMessageItems(info_kind, bpid, group_.MessageItems);
    if (!r.Ok()) return failed(r, code::kNoMessageItems);
    r = masters_.LoadLocalItems(info_kind, bpid, group_.LocalItems);
    if (!r.Ok()) return failed(r, code::kNoLocalItems);

    const ItemList& messages = group_.MessageItems;
    direction_.assign({static_cast<char>(header_.SixteenBitCode()), 'M'});
    plans_.assign(static_cast<std::size_t>(messages.Count()) + 1, ItemPlan{});
    for (std::int32_t i = 1; i <= messages.Count(); ++i) {
        ItemPlan& plan = plans_[static_cast<std::size_t>(i)];
        plan.local = FindLocalItemBySerial(group_.LocalItems, messages[i].対応項目通番);
        if (plan.local == 0) continue;
        const RecordFormatItem& local = group_.LocalItems[plan.local];
        plan.position = PositionOf(local);
        plan.edit = PlanLocalEdit(local, messages[i], direction_);
    }
    index_.Build(messages);
    template_ = BuildRecordTemplate(group_.LocalItems);
    target_.limit = template_.size() + kRecordSlack;
    key_ = BuildLocalKey(header_);
    stored_.SetStorageMode(header_.StorageMode());

    std::string error;
    test_group_ = header_.body[cii_header::k運用モード] == '1';
    std::filesystem::path path = options_.sink == nullptr ? LocalPathFor(local_template_, info_kind) : "";
    if (test_group_ && options_.sink == nullptr && !options_.test_template.empty()) {
        // The kind's local file is made even when only test data comes, so registration finds it.
        if (!output_.Open(path, error)) {
            Fail(code::kGeneralFailure, error);
            return false;
        }
        path = LocalPathFor(options_.test_template, info_kind);
    }
    if (!output_.Open(path, error)) {
        Fail(code::kGeneralFailure, error);
        return false;
    }
    return true;
}

Decoded CiiToLocalReader::DecodeCiiMessage(std::int64_t record_length, std::int64_t prefix_length) {
    const std::uint8_t mode = header_.StorageMode();
    if (mode == 'S') {
        stored_.SetBlockCounter(static_cast<std::int32_t>(32001 - prefix_length));
    } else if (mode == ' ' || mode == 'M') {
        stored_.SetBlockCounter(static_cast<std::int32_t>(251 - prefix_length));
    }
    record_ = template_;
    std::int64_t remaining = record_length - prefix_length;
    depths_.assign(1, Depth{});
    phantom_depth_ = 0;
    bool two_byte = false;
    StoredCursor cursor(stored_);

    // Reads one more byte of the message, counting it.
    auto next = [&cursor, &remaining](std::uint8_t& b) {
        if (!cursor.Byte(b)) return false;
        --remaining;
        return true;
    };
    auto next_occurrence = [this] {
        if (phantom_depth_ > 0 || depths_.size() < 2) return;
        Depth& d = depths_.back();
        if (d.occurrence < std::numeric_limits<std::int32_t>::max()) {
            ++d.occurrence;
            d.offset += d.stride;
        }
        d.start = d.group + 1;
    };
    auto close_group = [this](bool move_on) {
        if (phantom_depth_ > 0) {
            --phantom_depth_;
            return;
        }
        if (depths_.size() < 2) return;
        depths_.pop_back();
        // In one-byte mode the enclosing search goes on after the group item.
        if (move_on) ++depths_.back().start;
    };

    std::uint8_t b = 0;
    bool ended = false;
    while (!ended) {
        std::int32_t short_tag = 0;
        ByteView short_value;
        if (cursor.ShortElement(two_byte, short_tag, short_value)) {
            remaining -= static_cast<std::int64_t>((two_byte ? 3 : 2) + short_value.size());
            PlaceElement(short_tag, short_value);
            continue;
        }
        if (!next(b)) break;
        Decoded element = Decoded::kWritten;
        bool is_element = false;
        std::int32_t tag = 0;
        if (!two_byte) {
            if (b <= 239) {
                tag = b;
                is_element = true;
            } else if (b == kCiiTwoByteTags) {
                two_byte = true;
            } else if (b == kCiiGroupStart) {
                OpenGroup(GroupMatch::kFirst, 0);
            } else if (b == kCiiOccurrenceEnd) {
                next_occurrence();
            } else if (b == kCiiGroupEnd) {
                close_group(true);
            } else if (b == kCiiNumberedGroupStart) {
                WriteErrorLog(log_, code::kNumberedGroupInOneByteMode, "", 1);
            } else if (b == kCiiMessageEnd) {
                ended = true;
            } else {
                WriteErrorLog(log_, code::kMeaninglessByte, "", 1);
            }
        } else {
            std::uint8_t b1;
            std::uint8_t b2;
            if (b <= 239) {
                if (!next(b1)) return Decoded::kEnded;
                tag = b * 256 + b1;
                is_element = true;
            } else if (b >= 241 && b <= 247) {
                if (!next(b1) || !next(b2)) return Decoded::kEnded;
                tag = (b - 240) * 65536 + b1 * 256 + b2;
                is_element = true;
            } else if (b == 240 || b == 248) {
                // 0xF0 stands in front of numbered group markers.
            } else if (b == 249) {
                if (!next(b1)) return Decoded::kEnded;
            } else if (b == kCiiGroupStart) {
                if (!next(b1)) return Decoded::kEnded;
                OpenGroup(GroupMatch::kCharacter, b1);
            } else if (b == kCiiNumberedGroupStart) {
                if (!next(b1) || !next(b2)) return Decoded::kEnded;
                OpenGroup(GroupMatch::kNumber, b1 * 256 + b2);
            } else if (b == kCiiOccurrenceEnd) {
                next_occurrence();
            } else if (b == kCiiGroupEnd) {
                close_group(false);
            } else if (b == kCiiMessageEnd) {
                ended = true;
            } else {
                WriteErrorLog(log_, code::kMeaninglessByte, "", 1);
            }
        }
        if (is_element) element = DecodeElement(cursor, tag, remaining);
        if (element != Decoded::kWritten) return element;
    }
    cursor.Sync();
    if (!ended || in_.ReadFailed()) return Decoded::kEnded;

    if (remaining != 0) WriteErrorLog(log_, code::kLengthMismatch, "長さ違い", 1);
    if (output_.IsOpen() && !output_.Write(key_, record_)) {
        Fail(code::kGeneralFailure, "cannot write the local file");
        output_.Abandon();
        return Decoded::kStop;
    }
    if (output_.IsOpen() && options_.summary != nullptr) {
        ++options_.summary->Lines;
        if (test_group_) ++options_.summary->TestLines;
    }
    // The rest of a padded storage block is read away; in mode "S" the next record follows at once.
    if (StorageBlocksPadded(mode) && stored_.BlockCounter() > 0) {
        std::int32_t left = stored_.BlockCounter();
        stored_.SetBlockCounter(0);
        if (ReadBytesCounted(in_, nullptr, left)) {
            Fail(code::kTruncated);
            return Decoded::kStop;
        }
    }
    return Decoded::kWritten;
}

Decoded CiiToLocalReader::DecodeElement(StoredCursor& cursor, std::int32_t tag, std::int64_t& remaining) {
    std::int32_t length = 0;
    if (!cursor.ElementLength(remaining, length, log_)) return Decoded::kEnded;
    if (length == 0) {
        Fail(code::kEmptyElement);
        return Decoded::kStop;
    }
    // The value is used in place when the chunk and the storage block hold all of it.
    ByteView value;
    if (!cursor.Bytes(static_cast<std::size_t>(length), value_.get(), value)) return Decoded::kEnded;
    remaining -= length;
    PlaceElement(tag, value);
    return Decoded::kWritten;
}

void CiiToLocalReader::PlaceElement(std::int32_t tag, ByteView value) {
    Depth& depth = depths_.back();
    std::int32_t found = depth.start;
    if (phantom_depth_ > 0 || !index_.FindByTag(depth.group, found, tag)) {
        WriteErrorLog(log_, code::kUnknownTag, "", 1);
        return;
    }
    depth.start = found;
    const ItemPlan& plan = plans_[static_cast<std::size_t>(found)];
    if (plan.local != 0) PlaceLocalEdit(plan.edit, value, plan.position + depth.offset, target_);
}

void CiiToLocalReader::OpenGroup(GroupMatch match, std::int32_t number) {
    if (phantom_depth_ > 0) {
        ++phantom_depth_;
        return;
    }
    Depth& outer = depths_.back();
    std::int32_t found = outer.start;
    if (!index_.FindGroup(outer.group, found, match, number)) {
        // A marker that names no group: its elements and markers are counted but placed nowhere.
        phantom_depth_ = 1;
        return;
    }
    outer.start = found;
    Depth inner;
    inner.group = found;
    inner.start = found + 1;
    const std::int32_t local_group = plans_[static_cast<std::size_t>(found)].local;
    inner.stride = local_group == 0 ? 0 : group_.LocalItems[local_group].長さ;
    inner.offset = outer.offset;
    depths_.push_back(inner);
}

}  // namespace

std::int64_t LocalRecordLength(const ItemList& local_items) {
    std::int64_t length = 0;
    for (const RecordFormatItem& item : local_items) {
        if (item.レベル番号 != 0) continue;
        const std::int64_t span = item.IsGroup() ? std::int64_t{item.RepeatFactor()} * item.長さ : item.長さ;
        length = std::max(length, PositionOf(item) + span - 1);
    }
    return length;
}

Bytes BuildRecordTemplate(const ItemList& local_items) {
    Bytes record(static_cast<std::size_t>(std::clamp<std::int64_t>(LocalRecordLength(local_items), 0, 1 << 24)), ' ');
    std::vector<std::int32_t> groups;  // groups[L]: the group item of level L met last
    Bytes empty;
    for (std::int32_t index = 1; index <= local_items.Count(); ++index) {
        const RecordFormatItem& item = local_items[index];
        const auto level = static_cast<std::size_t>(std::max(0, item.レベル番号));
        if (item.IsGroup()) {
            groups.resize(level + 1, 0);
            groups[level] = index;
            continue;
        }
        EmptyValueOf(item, empty);
        if (empty.empty()) continue;
        // Every combination of the occurrences of the groups that enclose the item.
        std::vector<std::int32_t> enclosing;
        for (std::size_t l = 0; l < level && l < groups.size(); ++l) {
            if (groups[l] != 0) enclosing.push_back(groups[l]);
        }
        std::vector<std::int32_t> k(enclosing.size(), 0);
        for (bool more = true; more;) {
            std::int64_t position = PositionOf(item);
            for (std::size_t g = 0; g < enclosing.size(); ++g) {
                position += std::int64_t{k[g]} * local_items[enclosing[g]].長さ;
            }
            PutIntoRecord(record, position, empty, std::size_t{1} << 24);
            more = false;
            for (std::size_t g = enclosing.size(); g > 0 && !more; --g) {
                if (++k[g - 1] < local_items[enclosing[g - 1]].RepeatFactor()) {
                    more = true;
                } else {
                    k[g - 1] = 0;
                }
            }
        }
    }
    return record;
}

Bytes BuildLocalKey(const CiiGroupHeader& header) {
    Bytes key(kLocalKeySize, ' ');
    const ByteView kind = header.Field(cii_header::k情報区分, cii_header::k情報区分Length);
    const ByteView sender = header.Field(cii_header::k発信者コード, 12);
    const ByteView receiver = header.Field(cii_header::k受信者コード, 12);
    std::copy(kind.begin(), kind.end(), key.begin() + 5);
    std::copy(sender.begin(), sender.end(), key.begin() + 15);
    std::copy(receiver.begin(), receiver.end(), key.begin() + 27);
    return key;
}

std::filesystem::path LocalPathFor(const std::filesystem::path& local_template, std::string_view info_kind) {
    std::string path = local_template.string();
    const std::size_t dot = path.find('.');
    if (dot == std::string::npos) return path + std::string(info_kind);
    path.insert(dot, info_kind);
    return path;
}

void ReadCiiToLocal(ChunkedInput& input, const std::filesystem::path& local_template, FormatMasterSource& masters,
                    ConversionLog& log, const CiiToLocalOptions& options) {
    FileWarnings warnings(log);
    CiiToLocalReader reader(input, local_template, masters, log, options);
    reader.Run();
}

void ReadCiiToLocal(const std::filesystem::path& cii_path, const std::filesystem::path& local_template,
                    FormatMasterSource& masters, ConversionLog& log, const CiiToLocalOptions& options) {
    ChunkedInput input;
    std::string error;
    if (!input.Open(cii_path, error)) {
        WriteErrorLog(log, cii_read_code::kGeneralFailure, error, 0);
        return;
    }
    if (options.progress) input.SetProgress(options.progress);
    ReadCiiToLocal(input, local_template, masters, log, options);
}

}  // namespace edi
