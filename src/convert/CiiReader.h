// Reading a CII file as a stream: a chunked input, the storage-block rule that drops each
// block's continuation digit, element lengths, and the finders that match tags and group
// markers to the message-side items. The CII-to-local and CII-to-XML converters share them.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "convert/RecordFormat.h"
#include "convert/codec/Codec.h"
#include "convert/codec/ErrorLog.h"

namespace edi {

// A file (or a memory buffer) read forward in 64 KiB chunks; never holds more than one chunk.
class ChunkedInput {
public:
    static constexpr std::size_t kChunkSize = 64 * 1024;

    ChunkedInput() = default;
    ChunkedInput(const ChunkedInput&) = delete;
    ChunkedInput& operator=(const ChunkedInput&) = delete;

    bool Open(const std::filesystem::path& path, std::string& error);
    void Attach(ByteView memory);  // reads the bytes in place; they must outlive the reads
    void Close();

    // One byte; false at the end of the input.
    bool Get(std::uint8_t& b) {
        if (pos_ == end_ && !Refill()) return false;
        b = *pos_++;
        return true;
    }
    // Up to n bytes into out (dropped when out is null); returns how many were there.
    std::size_t Read(std::uint8_t* out, std::size_t n);
    // Bytes that can be read without a refill, and taking them.
    ByteView Buffered() const { return ByteView(pos_, static_cast<std::size_t>(end_ - pos_)); }
    void Consume(std::size_t n) { pos_ += n; }
    bool Refill();

    std::uint64_t Offset() const { return consumed_before_ + static_cast<std::uint64_t>(pos_ - begin_); }
    bool ReadFailed() const { return read_failed_; }
    // Called after every refill with the offset reached (for progress display).
    void SetProgress(std::function<void(std::uint64_t)> progress) { progress_ = std::move(progress); }

private:
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file_{nullptr, &std::fclose};
    Bytes buffer_;
    const std::uint8_t* begin_ = nullptr;
    const std::uint8_t* pos_ = nullptr;
    const std::uint8_t* end_ = nullptr;
    std::uint64_t consumed_before_ = 0;
    bool read_failed_ = false;
    std::function<void(std::uint64_t)> progress_;
};

// ReadBytesCounted: single bytes into out (dropped when out is null) until count reaches 0
// (false) or the input ends first (true); count is decreased per byte read.
bool ReadBytesCounted(ChunkedInput& in, std::uint8_t* out, std::int32_t& count);

// Codes of the CII readers in ERR.LOG.
namespace cii_read_code {
inline constexpr std::int32_t kNoFormatInfo = 1;                 // failure
inline constexpr std::int32_t kNoMessageItems = 3;               // failure
inline constexpr std::int32_t kNoLocalItems = 4;                 // failure
inline constexpr std::int32_t kTruncated = 7;                    // failure: the file ended inside a record
inline constexpr std::int32_t kBadRecordKind = 8;                // warning, text "-01" or "-02"
inline constexpr std::int32_t kBadLengthByte = 9;                // warning
inline constexpr std::int32_t kUnknownTag = 10;                  // warning
inline constexpr std::int32_t kNumberedGroupInOneByteMode = 11;  // warning
inline constexpr std::int32_t kLengthMismatch = 12;              // warning, text "長さ違い"
inline constexpr std::int32_t kMeaninglessByte = 13;             // warning
inline constexpr std::int32_t kEmptyElement = 15;                // failure
inline constexpr std::int32_t kNoRecord = 17;                    // failure: kMaxSkippedBytes without a record
inline constexpr std::int32_t kGeneralFailure = 9999;
}  // namespace cii_read_code

// Bytes of unknown record kinds a reader passes over in a row before it gives the file up: more
// than the largest storage block, so that no block padding or damaged record explains them and
// the file is not CII (or has lost its records).
inline constexpr std::int64_t kMaxSkippedBytes = 32002;
// The text of the code 17 line: where the run of unknown record kinds started.
std::string NoRecordText(std::uint64_t run_start);

// Data bytes of one storage block after its leading byte: 32000 for mode "S", 250 for " "
// and "M", 0 for a mode that has no blocks.
std::int32_t StorageBlockData(std::uint8_t storage_mode);
// Blocks are padded to their full size in modes " " and "M" only.
inline bool StorageBlocksPadded(std::uint8_t storage_mode) { return storage_mode == ' ' || storage_mode == 'M'; }

// The data bytes of a record through the storage-block rule: when the current block is used
// up, the next byte is the next block's continuation digit and is dropped.
class CiiStoredReader {
public:
    explicit CiiStoredReader(ChunkedInput& in) : in_(in) {}

    void SetStorageMode(std::uint8_t mode) { block_data_ = StorageBlockData(mode); }
    std::int32_t BlockCounter() const { return block_counter_; }
    void SetBlockCounter(std::int32_t counter) { block_counter_ = counter; }

    // false when the input ended.
    bool ReadStoredByte(std::uint8_t& b) {
        if (block_counter_ > 0) {
            --block_counter_;
            return in_.Get(b);
        }
        return ReadAfterBoundary(b);
    }
    // n bytes into out (dropped when out is null); false when the input ended first.
    bool ReadStoredBytes(std::uint8_t* out, std::size_t n);
    // The next n bytes taken in place when the buffered chunk and the current block hold them
    // all; otherwise nothing is taken and the view is empty.
    ByteView PeekStoredBytes(std::size_t n) {
        const ByteView buffered = in_.Buffered();
        if (n == 0 || static_cast<std::size_t>(block_counter_ < 0 ? 0 : block_counter_) < n || buffered.size() < n) {
            return {};
        }
        in_.Consume(n);
        block_counter_ -= static_cast<std::int32_t>(n);
        return buffered.first(n);
    }
    // A length: a byte 0-239, or 0xF2 and two bytes high first; any other byte of 240 or more
    // is reported (code 9, a warning) and gives 0. Every byte read decreases remaining.
    // false when the input ended.
    bool ReadElementLength(std::int64_t& remaining, std::int32_t& length, ConversionLog& log);

    // The bytes that can be taken in place: up to the end of the current block and of the
    // buffered chunk; and the taking of them.
    ByteView Window() const {
        const ByteView buffered = in_.Buffered();
        return block_counter_ <= 0
                   ? ByteView()
                   : buffered.first(std::min(buffered.size(), static_cast<std::size_t>(block_counter_)));
    }
    void Take(std::size_t n) {
        in_.Consume(n);
        block_counter_ -= static_cast<std::int32_t>(n);
    }

private:
    bool ReadAfterBoundary(std::uint8_t& b);
    ChunkedInput& in_;
    std::int32_t block_counter_ = 0;
    std::int32_t block_data_ = 0;
};

// A record's bytes through the storage-block rule, taken in place from the chunk in memory up to
// the end of the current block or chunk; there the stored reader reads the next byte. Sync()
// hands the position back to the stored reader before it is used directly.
class StoredCursor {
public:
    explicit StoredCursor(CiiStoredReader& reader) : reader_(reader) { Reset(); }
    StoredCursor(const StoredCursor&) = delete;
    StoredCursor& operator=(const StoredCursor&) = delete;
    ~StoredCursor() { Sync(); }

    // false when the input ended.
    bool Byte(std::uint8_t& b) {
        if (p_ != end_) {
            b = *p_++;
            return true;
        }
        return SlowByte(b);
    }
    // n bytes, in place when the window holds them, else copied into scratch (room for n).
    bool Bytes(std::size_t n, std::uint8_t* scratch, ByteView& out) {
        if (static_cast<std::size_t>(end_ - p_) >= n) {
            out = ByteView(p_, n);
            p_ += n;
            return true;
        }
        Sync();
        const bool ok = reader_.ReadStoredBytes(scratch, n);
        Reset();
        out = ByteView(scratch, n);
        return ok;
    }
    // An element's length as CiiStoredReader::ReadElementLength describes it; false when the
    // input ended.
    bool ElementLength(std::int64_t& remaining, std::int32_t& length, ConversionLog& log) {
        std::uint8_t b;
        if (!Byte(b)) return false;
        --remaining;
        length = b;
        return b < 240 || LongLength(b, remaining, length, log);
    }
    // The usual element taken whole from the window: a tag byte below 240 (with the byte after
    // it while tags are two bytes long), a length byte of 1 to 239 and the value. false, with
    // nothing taken, when the window does not hold such an element.
    bool ShortElement(bool two_byte_tags, std::int32_t& tag, ByteView& value) {
        const std::size_t head = two_byte_tags ? 3 : 2;
        const auto left = static_cast<std::size_t>(end_ - p_);
        if (left < head || p_[0] >= 240) return false;
        const std::uint8_t length = p_[head - 1];
        if (length == 0 || length >= 240 || left < head + length) return false;
        tag = two_byte_tags ? p_[0] * 256 + p_[1] : p_[0];
        value = ByteView(p_ + head, length);
        p_ += head + length;
        return true;
    }
    void Sync() {
        reader_.Take(static_cast<std::size_t>(p_ - begin_));
        begin_ = p_;
    }

private:
    bool LongLength(std::uint8_t b, std::int64_t& remaining, std::int32_t& length, ConversionLog& log);
    bool SlowByte(std::uint8_t& b) {
        Sync();
        const bool ok = reader_.ReadStoredByte(b);
        Reset();
        return ok;
    }
    void Reset() {
        const ByteView window = reader_.Window();
        begin_ = p_ = window.data();
        end_ = window.empty() ? p_ : window.data() + window.size();
    }

    CiiStoredReader& reader_;
    const std::uint8_t* begin_ = nullptr;
    const std::uint8_t* p_ = nullptr;
    const std::uint8_t* end_ = nullptr;
};

// FindLocalItemBySerial: index of the first item whose 項目通番 is serial, 0 when none.
std::int32_t FindLocalItemBySerial(const ItemList& local_items, std::int32_t serial);

// How a group marker names its group.
enum class GroupMatch {
    kFirst,      // 0xFA while tags are one byte long: the first group of the level
    kCharacter,  // 0xFA c: the group whose マルチ明細番号 is the character c (or its digit value)
    kNumber,     // 0xFD hi lo: the group whose マルチ明細番号 read as a number is the value
};
// Whether a group item's マルチ明細番号 is the one the marker names.
bool GroupNamed(const RecordFormatItem& item, GroupMatch match, std::int32_t group_number);

// The numeric value of a text as the platform reads a number: leading blanks, an optional sign,
// digits (blanks among them skipped), a fraction dropped; 0 when no digit starts it.
std::int64_t LeadingNumber(std::string_view text);

// PutIntoRecord: replaces the record's bytes from the 1-based position on by the text; a text
// running past the end lengthens the record, a position past the end appends it. A position
// below 1 places nothing. The record never grows beyond limit bytes: the text is cut there.
void PutIntoRecord(Bytes& record, std::int64_t position, ByteView text, std::size_t limit = SIZE_MAX);

}  // namespace edi
