// Kind "1" of the local/CII converter: local fixed-length lines become CII messages, consecutive
// lines with the same 39-byte key forming one message group.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <vector>

#include "convert/ByteSink.h"
#include "convert/CiiLayout.h"
#include "convert/CiiReader.h"
#include "convert/CiiToLocal.h"
#include "convert/FormatMasterSource.h"
#include "startup/Clock.h"

namespace edi {

// Codes of the local-to-CII side, all failures.
namespace local_cii_code {
inline constexpr std::int32_t kNoMessageGroupInfo = 1;
inline constexpr std::int32_t kNoFormatInfo = 2;
inline constexpr std::int32_t kNoMessageItems = 3;
inline constexpr std::int32_t kNoLocalItems = 4;
inline constexpr std::int32_t kBadGroupNumber = 5;
inline constexpr std::int32_t kBadTag = 6;
inline constexpr std::int32_t kGeneralFailure = 9999;
}  // namespace local_cii_code

// Lines of a local file: CR LF or LF ends a line; the last line may lack its end.
class LocalLineReader {
public:
    static constexpr std::size_t kMaxLine = 8 * 1024 * 1024;
    explicit LocalLineReader(ChunkedInput& in) : in_(in) {}
    // false at the end of the file, or with too_long set for a line over kMaxLine bytes.
    bool Next(Bytes& line);
    bool TooLong() const { return too_long_; }

private:
    ChunkedInput& in_;
    bool too_long_ = false;
};

// EncodeCiiMessage: one local record against the group's masters, written as one data record.
class CiiMessageEncoder {
public:
    enum class Result {
        kWritten,
        kNotWritten,  // the header's storage mode has no blocks: silently left out
        kFailed,      // code 5 or 6 logged; the message is left out
        kSinkFailed,
    };
    explicit CiiMessageEncoder(ConversionLog& log);
    void SetGroup(const FormatMasters& masters, const CiiGroupHeader& header);
    Result EncodeCiiMessage(ByteView record, std::int32_t message_number, ByteSink& sink);

private:
    // What the message being written has in an open group.
    struct OpenGroup {
        bool occurrence_written = false;  // an element or an inner group's marker is in it
        bool has_data = false;
        std::int64_t pending = 0;  // empty occurrences since the last written one
        std::size_t last_fb = 0;   // element-area offset of the group's latest 0xFB
    };
    // One move of the walk over the items: the same for every message of a group, so it is
    // worked out once. A slot is a data item at the position its field has in the occurrences
    // the walk is in.
    struct Step {
        enum class Op : std::uint8_t { kSlot, kGroupStart, kNextOccurrence, kGroupClose };
        Op op = Op::kSlot;
        std::int32_t item = 0;
        std::int64_t position = 0;
    };
    static constexpr std::size_t kMaxSteps = 1 << 16;
    enum class Kind : std::uint8_t { kNumber, kDate, kText, kBinary, kWide, kGroup, kNone };
    // What the walk needs of a message item, worked out once per group.
    struct Plan {
        Kind kind = Kind::kNone;
        std::int32_t level = 0;   // レベル番号
        std::int32_t repeat = 0;  // 繰返し数 of a group
        std::int32_t item_number = 0;
        std::int32_t local = 0;     // local item paired by 対応項目通番, 0 when none
        std::int64_t position = 0;  // its 項目位置
        std::int64_t stride = 0;    // for a group: the 長さ of its local group item
        std::int64_t length = 0;    // bytes of the local field read (a number's point included)
        std::int32_t message_length = 0;
        std::int32_t message_decimals = 0;
        bool tag_ok = false;        // 項目№ has a tag form
        // Field bytes that give no element (spaces, or the zeros of an empty number or date):
        // a field holding exactly these is passed over without reading its value. Up to 16
        // bytes they are compared as two words.
        struct EmptyForm {
            std::size_t size = 0;  // 0: none
            std::uint64_t mask = 0;
            std::uint64_t head = 0;  // the first 8 bytes (those there are, under the mask)
            std::uint64_t tail = 0;  // the last 8 bytes of a form of 9 to 16 bytes
            Bytes bytes;
        } empty;
    };
    // Whether the field inside the record holds the empty form.
    static bool HoldsEmptyForm(const Plan::EmptyForm& form, ByteView field, const std::uint8_t* record_end);
    // The walk: every item in order, the members of a group once per occurrence; the visitor's
    // moves return false to stop it.
    template <class Visitor>
    bool Walk(Visitor& visit);
    // The moves on the message being written; false when it cannot be written (logged).
    bool Slot(std::int32_t item, std::int64_t position, ByteView record);
    bool GroupStart(std::int32_t item);
    void NextOccurrence();
    void GroupClose();
    bool Value(const Plan& plan, ByteView field);
    bool WriteElement(const Plan& plan);
    bool WriteLongElement(const Plan& plan);
    bool WriteMarker(const RecordFormatItem& group_item);
    // Something is written into the open groups' current occurrences: the empty occurrences
    // pending before them are ended first (a bare 0xFB each), outermost group first.
    void MarkOccurrencesWritten();
    void EndOccurrence(std::size_t depth);

    ConversionLog& log_;
    CiiMessageWriter writer_;
    const FormatMasters* masters_ = nullptr;
    std::uint8_t storage_mode_ = ' ';
    std::string direction_;           // "M" then the header's 16-bit code
    bool plain_double_bytes_ = true;  // direction "MM": double-byte values go as they are
    std::vector<Plan> plans_;         // by message index
    std::vector<Step> steps_;         // the whole walk, or empty when it is too long to keep
    struct WalkLevel {
        std::int32_t item = 0;
        std::int64_t occurrence = 1;
        std::int64_t stride = 0;
    };
    std::vector<WalkLevel> walk_levels_;
    std::vector<OpenGroup> groups_;
    bool all_written_ = true;  // every open group's current occurrence is marked written
    Bytes value_;
    ByteView value_view_;  // the value: into the record, value_ or scratch_
    Bytes scratch_;
};

struct LocalToCiiOptions {
    std::function<void(std::uint64_t)> progress;  // bytes of the local file read so far
    ByteSink* sink = nullptr;                     // the CII bytes here instead of the file (tests)
    CiiGroupSummary* summary = nullptr;
};

// WriteCiiFromLocal: appends to the CII file; reports only through log.
void WriteCiiFromLocal(const std::filesystem::path& local_path, const std::filesystem::path& cii_path,
                       FormatMasterSource& masters, ConversionLog& log, const Clock& clock,
                       const LocalToCiiOptions& options = {});

}  // namespace edi
