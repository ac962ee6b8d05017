// The integrity check of a received CII file, a streaming pass of its own ahead of the
// conversion: the file is a sequence of groups (header, data records, end record); every data
// record is complete (its declared length reached, its end byte there); its storage blocks
// carry their continuation digits in order and the last one is padded as the storage mode
// says; messages are numbered 1, 2, 3, ... in each group; each end record counts the messages
// read; nothing but padding follows the last end record.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "convert/CiiReader.h"
#include "convert/codec/ErrorLog.h"
#include "startup/Clock.h"

namespace edi {

// The checks; a site may turn each into a warning.
enum class CiiCheck : std::uint8_t {
    kGroups,     // header, data records, end record; records of known kinds only
    kRecords,    // a record cut short, or a data record whose end byte is not where its length says
    kBlocks,     // continuation digits out of order, a last block not padded with spaces, no block size
    kNumbering,  // a message number that is not the next one of its group
    kCount,      // an end record whose count is not the number of messages read
    kTrailing,   // bytes other than padding after an end record
};
inline constexpr std::size_t kCiiCheckCount = 6;

// The ERR.LOG code of a check's faults, 5201 to 5206 in the order above; a job that a fault
// stops records it as 詳細コード beside kCiiCheckFailed.
std::int32_t CiiCheckCode(CiiCheck check);
// 終了コード of a conversion (and of its job) whose received CII file failed the check.
inline constexpr std::string_view kCiiCheckFailed = "5200";
// The setting key (section CIICHECK of EDI.ini) that turns the check into a warning.
std::string_view CiiCheckWarningKey(CiiCheck check);

struct CiiFault {
    CiiCheck check = CiiCheck::kGroups;
    // From the file's first byte (0): the first byte that breaks the rule; for a file that
    // ends too early, the file's size (where the missing byte belongs).
    std::uint64_t offset = 0;
    std::int32_t group = 0;  // the group it lies in or follows, 1-based; 0 before the first
    bool in_group = false;   // between that group's header and its end record, both included
    std::int32_t message = 0;  // 1-based place of the data record in its group; 0 outside one
    std::string info_kind;     // of that group
    std::string text;
};

// "group 2 (0130) message 3, byte 1506: block 2 begins with "3" where "2" belongs"
std::string DescribeFault(const CiiFault& fault);
// Bytes between double quotes, those outside printable ASCII as \xNN: "0\x80".
std::string QuotedBytes(ByteView bytes);

struct CiiGroupCheck {
    std::int32_t number = 0;
    std::uint64_t offset = 0;  // of its header
    std::string info_kind;
    std::string bpid;
    std::uint8_t operation_mode = ' ';  // 運用モード: "1" marks test data
    std::uint8_t storage_mode = ' ';
    std::int64_t messages = 0;              // data records read
    std::optional<std::int64_t> end_count;  // nothing without an end record or when it is no number
    std::optional<CiiFault> first_fault;
    bool IsTest() const { return operation_mode == '1'; }
};

struct CiiCheckTotals {
    std::int32_t groups = 0;
    std::int64_t messages = 0;
    std::int64_t test_messages = 0;  // of them in groups whose 運用モード is "1"
    std::uint64_t bytes = 0;         // read
    bool read_failed = false;
};

struct CiiCheckListener {
    // Every fault in file order; false ends the pass.
    std::function<bool(const CiiFault&)> fault;
    // Every group, once its end record, the next header or the end of the file closes it.
    std::function<void(const CiiGroupCheck&)> group;
};

// The pass. After a fault it goes on where the file still lets it (a record's declared length
// frames it; unknown bytes are passed over two at a time as the converters do) and gives the
// file up after kMaxSkippedBytes without a record.
CiiCheckTotals CheckCii(ChunkedInput& input, const CiiCheckListener& listener);

// Which checks only warn (EDI.ini, section CIICHECK).
struct CiiCheckPolicy {
    std::array<bool, kCiiCheckCount> warn{};
    bool Warns(CiiCheck check) const { return warn[static_cast<std::size_t>(check)]; }
};

struct CiiCheckOutcome {
    std::optional<CiiFault> failure;  // the first fault of a check that is not a warning
    CiiCheckTotals totals;
    bool unreadable = false;  // the file could not be opened or read (a "9999" line says why)
    bool Sound() const { return !failure && !unreadable; }
};

// The check of a job's received file: the start line "--K800410 start--" with the serial,
// then one warning line per fault of a check the policy turns into a warning (bounded per
// file as the converters' warnings are), and one failure line for the first other fault,
// where the pass ends.
CiiCheckOutcome CheckReceivedCii(const std::filesystem::path& cii_path, std::int64_t serial,
                                 const CiiCheckPolicy& policy, ConversionLog& log, const Clock& clock);

}  // namespace edi
