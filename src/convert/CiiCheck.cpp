#include "convert/CiiCheck.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "convert/CiiLayout.h"

namespace edi {
namespace {

constexpr std::array<std::string_view, kCiiCheckCount> kWarningKeys = {
    "WarnGroups", "WarnRecords", "WarnBlocks", "WarnNumbering", "WarnCount", "WarnTrailing"};

// Message numbers and counts have five digits: a group of 100000 messages or more wraps them.
constexpr std::int64_t kFiveDigits = 100000;

// What a sender may leave after its last end record.
bool IsPadding(std::uint8_t b) { return b == ' ' || b == 0 || b == '\r' || b == '\n' || b == 0x1A; }

// How many of the n bytes from p are spaces before the first that is not; eight at a time, as
// the padding of mode " " and "M" blocks is half of a message's bytes on average.
std::size_t LeadingSpaces(const std::uint8_t* p, std::size_t n) {
    constexpr std::uint64_t kSpaces = 0x2020202020202020ULL;
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, p + i, 8);
        if (word != kSpaces) break;
    }
    while (i < n && p[i] == ' ') ++i;
    return i;
}

std::string Shown(std::uint8_t b) { return QuotedBytes(ByteView(&b, 1)); }

std::optional<std::int64_t> FiveDigits(const std::uint8_t* digits) {
    std::int64_t value = 0;
    for (int i = 0; i < 5; ++i) {
        if (digits[i] < '0' || digits[i] > '9') return std::nullopt;
        value = value * 10 + (digits[i] - '0');
    }
    return value;
}

// A count of 100000 or more has no five-digit form: its last five digits, or its first five
// (as this program's writers cut it), stand for it.
bool CountMatches(std::int64_t count, std::int64_t messages) {
    if (count == messages) return true;
    if (messages < kFiveDigits) return false;
    return count == messages % kFiveDigits || count == std::stoll(std::to_string(messages).substr(0, 5));
}

class CiiChecker {
public:
    CiiChecker(ChunkedInput& in, const CiiCheckListener& listener) : in_(in), listener_(listener) {}
    CiiCheckTotals Run();

private:
    // Reports a fault where the walk stands; false when the pass is to end.
    bool Fault(CiiCheck check, std::uint64_t offset, std::string text);
    // The file ended inside a record: the pass ends.
    bool Cut(std::string_view what) {
        Fault(CiiCheck::kRecords, in_.Offset(), "the file ends inside " + std::string(what));
        stop_ = true;
        return false;
    }
    bool SkipTo(std::uint64_t offset) {
        const std::uint64_t want = offset - in_.Offset();
        return in_.Read(nullptr, want) == want;
    }
    // Takes bytes up to `until` while they pass: count(p, n) says how many of n bytes do. The
    // offset of the first that does not, left unread, or nothing (the input's offset then tells
    // whether the file ended first).
    template <typename Count>
    std::optional<std::uint64_t> SkipWhile(std::uint64_t until, Count count);

    void Header(std::uint64_t start);
    void End(std::uint64_t start);
    void Data(std::uint64_t start, std::uint8_t lead);
    bool DataRecord(std::uint64_t start, std::uint8_t lead);
    bool CheckNumber(std::uint64_t start, const std::uint8_t* digits);
    void PassOver(std::uint64_t start, const std::uint8_t (&kind)[2]);
    void AtEnd(std::uint64_t start, const std::uint8_t* last_byte);
    void OutsideFault(std::uint64_t offset);
    void CloseGroup();
    std::string GroupName() const { return "group " + std::to_string(group_.number); }

    ChunkedInput& in_;
    const CiiCheckListener& listener_;
    CiiCheckTotals totals_;
    CiiGroupCheck group_;  // the open group, else the last one
    bool open_ = false;
    std::int64_t block_data_ = 250;  // data bytes of a storage block after its leading byte
    bool padded_ = true;
    bool fixed_records_ = false;  // storage flags "20": data records of 251 bytes that no converter reads
    std::int32_t message_ = 0;    // the data record being read, 1-based in its group
    bool passing_over_ = false;   // bytes of no record kind, after their fault
    std::int64_t skipped_ = 0;
    std::uint64_t skipped_from_ = 0;
    bool stop_ = false;
};

CiiCheckTotals CiiChecker::Run() {
    while (!stop_) {
        const std::uint64_t start = in_.Offset();
        std::uint8_t kind[2];
        const std::size_t got = in_.Read(kind, 2);
        if (got < 2) {
            AtEnd(start, got == 1 ? kind : nullptr);
            break;
        }
        const CiiRecordKind record_kind = ClassifyRecordKind(kind[0], kind[1]);
        if (record_kind == CiiRecordKind::kGroupHeader || record_kind == CiiRecordKind::kGroupEnd ||
            record_kind == CiiRecordKind::kData) {
            passing_over_ = false;
        }
        switch (record_kind) {
            case CiiRecordKind::kGroupHeader:
                Header(start);
                break;
            case CiiRecordKind::kGroupEnd:
                End(start);
                break;
            case CiiRecordKind::kData:
                Data(start, kind[0]);
                break;
            default:
                PassOver(start, kind);
                break;
        }
    }
    CloseGroup();
    totals_.bytes = in_.Offset();
    totals_.read_failed = in_.ReadFailed();
    return totals_;
}

bool CiiChecker::Fault(CiiCheck check, std::uint64_t offset, std::string text) {
    CiiFault fault;
    fault.check = check;
    fault.offset = offset;
    fault.group = group_.number;
    fault.in_group = open_;
    fault.message = open_ ? message_ : 0;
    fault.info_kind = group_.info_kind;
    fault.text = std::move(text);
    if (open_ && !group_.first_fault) group_.first_fault = fault;
    if (listener_.fault && !listener_.fault(fault)) stop_ = true;
    return !stop_;
}

template <typename Count>
std::optional<std::uint64_t> CiiChecker::SkipWhile(std::uint64_t until, Count count) {
    while (in_.Offset() < until) {
        const ByteView view = in_.Buffered();
        if (view.empty()) {
            if (!in_.Refill()) return std::nullopt;
            continue;
        }
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(view.size(), until - in_.Offset()));
        const std::size_t passed = count(view.data(), n);
        in_.Consume(passed);
        if (passed < n) return in_.Offset();
    }
    return std::nullopt;
}

void CiiChecker::CloseGroup() {
    if (!open_) return;
    open_ = false;
    totals_.messages += group_.messages;
    if (group_.IsTest()) totals_.test_messages += group_.messages;
    if (listener_.group) listener_.group(group_);
}

void CiiChecker::Header(std::uint64_t start) {
    if (open_) {
        if (!Fault(CiiCheck::kGroups, start, "a group header before the end record of " + GroupName())) return;
        CloseGroup();
    }
    group_ = CiiGroupCheck{};
    group_.number = ++totals_.groups;
    group_.offset = start;
    open_ = true;
    CiiGroupHeader header;
    if (in_.Read(header.body.data(), header.body.size()) != header.body.size()) {
        Cut("the group header");
        return;
    }
    group_.info_kind = header.InfoKind();
    group_.bpid = header.Bpid();
    group_.operation_mode = header.body[cii_header::k運用モード];
    group_.storage_mode = header.StorageMode();
    fixed_records_ = header.StorageFlagsAre("20");
    block_data_ = StorageBlockData(group_.storage_mode);
    padded_ = StorageBlocksPadded(group_.storage_mode);
    if (block_data_ == 0) {
        // No message can be written in such a mode; records that come all the same are framed
        // as in mode "S".
        block_data_ = 32000;
        if (!fixed_records_) {
            Fault(CiiCheck::kBlocks, start + 2 + cii_header::k格納モード,
                  "the storage mode " + Shown(group_.storage_mode) + " has no storage blocks");
        }
    }
}

void CiiChecker::End(std::uint64_t start) {
    if (!open_ && !Fault(CiiCheck::kGroups, start, "an end record outside a group")) return;
    std::uint8_t body[kCiiControlBodySize];
    if (in_.Read(body, sizeof body) != sizeof body) {
        Cut("the end record");
        return;
    }
    if (!open_) return;
    const std::optional<std::int64_t> count = FiveDigits(body);
    const std::string read = std::to_string(group_.messages) + " were read";
    group_.end_count = count;
    if (!count) {
        Fault(CiiCheck::kCount, start + 2, "the end record's count " + QuotedBytes(ByteView(body, 5)) + " is no number; " + read);
    } else if (!CountMatches(*count, group_.messages)) {
        Fault(CiiCheck::kCount, start + 2, "the end record counts " + std::to_string(*count) + " messages; " + read);
    }
    CloseGroup();
}

void CiiChecker::Data(std::uint64_t start, std::uint8_t lead) {
    const bool in_group = open_;
    if (!in_group && !Fault(CiiCheck::kGroups, start, "a data record outside a group")) return;
    message_ = in_group ? static_cast<std::int32_t>(std::min<std::int64_t>(group_.messages + 1, INT32_MAX)) : 0;
    if (DataRecord(start, lead) && in_group) ++group_.messages;
    message_ = 0;
}

bool CiiChecker::CheckNumber(std::uint64_t start, const std::uint8_t* digits) {
    if (!open_) return true;
    const std::optional<std::int64_t> number = FiveDigits(digits);
    const std::int64_t next = (group_.messages + 1) % kFiveDigits;
    if (number == next) return true;
    char expected[8];
    std::snprintf(expected, sizeof expected, "%05lld", static_cast<long long>(next));
    return Fault(CiiCheck::kNumbering, start + 2,
                 "the message number is " + QuotedBytes(ByteView(digits, 5)) + " where " + expected + " follows");
}

bool CiiChecker::DataRecord(std::uint64_t start, std::uint8_t lead) {
    std::uint8_t prefix[15];
    if (fixed_records_) {
        if (in_.Read(prefix, 5) != 5 || in_.Read(nullptr, kCiiControlBodySize - 5) != kCiiControlBodySize - 5) {
            return Cut("a data record");
        }
        return CheckNumber(start, prefix);
    }
    if (in_.Read(prefix, 7) != 7) return Cut("the prefix of a data record");
    const bool long_form = prefix[5] == 0x80 && prefix[6] == 0x80;
    if (long_form && in_.Read(prefix + 7, 8) != 8) return Cut("the prefix of a data record");
    if (!CheckNumber(start, prefix)) return false;
    CiiDataPrefix decoded;
    DecodeDataPrefix(ByteView(prefix, long_form ? 15 : 7), decoded);
    // The declared length covers prefix and element area; the end byte follows it.
    std::int64_t length = decoded.length;
    const auto prefix_size = static_cast<std::int64_t>(decoded.size);
    if (length < prefix_size) {
        if (!Fault(CiiCheck::kRecords, start + (long_form ? 10 : 7),
                   "the declared length " + std::to_string(length) + " is shorter than the prefix")) {
            return false;
        }
        length = prefix_size;
    }
    auto cut = [this, length] { return Cut("the message (declared length " + std::to_string(length) + ")"); };

    // Block k (1-based) starts at start + (k - 1) * (block + 1): its leading byte is the digit
    // "1".."8" (then "1" again) while more blocks follow, "9" on the last one.
    const std::int64_t block = block_data_;
    const std::int64_t blocks = (length + block - 1) / block;
    const std::uint8_t first = blocks == 1 ? '9' : '1';
    if (lead != first && !Fault(CiiCheck::kBlocks, start,
                                "the first block begins with " + Shown(lead) + " where " + Shown(first) + " belongs")) {
        return false;
    }
    for (std::int64_t k = 2; k <= blocks; ++k) {
        const std::uint64_t at = start + static_cast<std::uint64_t>((k - 1) * (block + 1));
        std::uint8_t digit = 0;
        if (!SkipTo(at) || !in_.Get(digit)) return cut();
        const auto expected = static_cast<std::uint8_t>(k == blocks ? '9' : '1' + (k - 1) % 8);
        if (digit != expected &&
            !Fault(CiiCheck::kBlocks, at,
                   "block " + std::to_string(k) + " begins with " + Shown(digit) + " where " + Shown(expected) + " belongs")) {
            return false;
        }
    }
    // Record byte i (i >= 1) lies at start + i + (i - 1) / block: one leading byte per block before it.
    const std::uint64_t end_at = start + static_cast<std::uint64_t>(length + (length - 1) / block);
    std::uint8_t end = 0;
    if (!SkipTo(end_at) || !in_.Get(end)) return cut();
    if (end != kCiiMessageEnd &&
        !Fault(CiiCheck::kRecords, end_at,
               "no end byte where the declared length " + std::to_string(length) + " ends: " + Shown(end))) {
        return false;
    }
    if (!padded_) return true;
    const std::uint64_t block_end = start + static_cast<std::uint64_t>(blocks * (block + 1));
    if (const std::optional<std::uint64_t> bad = SkipWhile(block_end, LeadingSpaces)) {
        std::uint8_t b = 0;
        in_.Get(b);
        if (!Fault(CiiCheck::kBlocks, *bad, "the last block is padded with " + Shown(b) + ", not with spaces")) {
            return false;
        }
        if (!SkipTo(block_end)) return Cut("the padding of the last block");
    } else if (in_.Offset() < block_end) {
        return Cut("the padding of the last block");
    }
    return true;
}

void CiiChecker::OutsideFault(std::uint64_t offset) {
    if (totals_.groups == 0) {
        Fault(CiiCheck::kGroups, offset, "the file does not begin with a group header");
    } else {
        Fault(CiiCheck::kTrailing, offset, "bytes other than padding after the end record of " + GroupName());
    }
    passing_over_ = true;
    skipped_ = 0;
    skipped_from_ = offset;
}

void CiiChecker::PassOver(std::uint64_t start, const std::uint8_t (&kind)[2]) {
    if (!passing_over_) {
        if (open_) {
            if (!Fault(CiiCheck::kGroups, start, "an unknown record kind " + QuotedBytes(ByteView(kind, 2)))) return;
            passing_over_ = true;
            skipped_ = 0;
            skipped_from_ = start;
        } else if (!IsPadding(kind[0]) || !IsPadding(kind[1])) {
            OutsideFault(IsPadding(kind[0]) ? start + 1 : start);
        } else {
            // Between groups only padding may stand, and only up to the end of the file.
            const std::optional<std::uint64_t> bad = SkipWhile(UINT64_MAX, [](const std::uint8_t* p, std::size_t n) {
                return static_cast<std::size_t>(std::find_if_not(p, p + n, IsPadding) - p);
            });
            if (!bad) {
                if (totals_.groups == 0) Fault(CiiCheck::kGroups, 0, "the file holds no group");
                return;
            }
            OutsideFault(*bad);
            return;
        }
    }
    skipped_ += 2;
    if (skipped_ > kMaxSkippedBytes) {
        Fault(CiiCheck::kGroups, skipped_from_, NoRecordText(skipped_from_));
        stop_ = true;
    }
}

void CiiChecker::AtEnd(std::uint64_t start, const std::uint8_t* last_byte) {
    if (open_) {
        if (last_byte != nullptr) {
            Fault(CiiCheck::kRecords, start + 1, "the file ends inside a record kind");
        } else {
            Fault(CiiCheck::kGroups, start, "the file ends without the end record of " + GroupName());
        }
        return;
    }
    if (passing_over_) return;
    if (last_byte != nullptr && !IsPadding(*last_byte)) {
        OutsideFault(start);
    } else if (totals_.groups == 0) {
        Fault(CiiCheck::kGroups, 0, "the file holds no group");
    }
}

}  // namespace

std::string QuotedBytes(ByteView bytes) {
    std::string text = "\"";
    for (const std::uint8_t b : bytes) {
        if (b >= 0x20 && b < 0x7F && b != '"' && b != '\\') {
            text += static_cast<char>(b);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", b);
            text += hex;
        }
    }
    return text + "\"";
}

std::int32_t CiiCheckCode(CiiCheck check) { return 5201 + static_cast<std::int32_t>(check); }

std::string_view CiiCheckWarningKey(CiiCheck check) { return kWarningKeys[static_cast<std::size_t>(check)]; }

std::string DescribeFault(const CiiFault& fault) {
    const std::string group =
        "group " + std::to_string(fault.group) + (fault.info_kind.empty() ? "" : " (" + fault.info_kind + ")");
    std::string where;
    if (fault.group == 0) {
        where = "before the first group";
    } else if (!fault.in_group) {
        where = "after " + group;
    } else if (fault.message > 0) {
        where = group + " message " + std::to_string(fault.message);
    } else {
        where = group;
    }
    return where + ", byte " + std::to_string(fault.offset) + ": " + fault.text;
}

CiiCheckTotals CheckCii(ChunkedInput& input, const CiiCheckListener& listener) {
    return CiiChecker(input, listener).Run();
}

CiiCheckOutcome CheckReceivedCii(const std::filesystem::path& cii_path, std::int64_t serial,
                                 const CiiCheckPolicy& policy, ConversionLog& log, const Clock& clock) {
    CiiCheckOutcome outcome;
    char serial_text[32];
    std::snprintf(serial_text, sizeof serial_text, "%08lld", static_cast<long long>(serial));
    const LocalDateTime now = clock.Now();
    WriteErrorLog(log, 0,
                  std::string("--K800410 start--") + serial_text + "  " + FormatDate(now) + " " + FormatTime(now));
    FileWarnings warnings(log);
    ChunkedInput input;
    std::string error;
    if (!input.Open(cii_path, error)) {
        WriteErrorLog(log, cii_read_code::kGeneralFailure, error, 0);
        outcome.unreadable = true;
        return outcome;
    }
    CiiCheckListener listener;
    listener.fault = [&](const CiiFault& fault) {
        if (policy.Warns(fault.check)) {
            WriteErrorLog(log, CiiCheckCode(fault.check),
                          DescribeFault(fault) + " (a warning: " + std::string(CiiCheckWarningKey(fault.check)) + "=1)",
                          1);
            return true;
        }
        WriteErrorLog(log, CiiCheckCode(fault.check), DescribeFault(fault), 0);
        outcome.failure = fault;
        return false;
    };
    outcome.totals = CheckCii(input, listener);
    if (outcome.totals.read_failed) {
        WriteErrorLog(log, cii_read_code::kGeneralFailure, "cannot read " + cii_path.string(), 0);
        outcome.unreadable = true;
    }
    return outcome;
}

}  // namespace edi
