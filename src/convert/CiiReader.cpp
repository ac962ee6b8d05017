#include "convert/CiiReader.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace edi {

bool ChunkedInput::Open(const std::filesystem::path& path, std::string& error) {
    Close();
    file_.reset(std::fopen(path.c_str(), "rb"));
    if (!file_) {
        error = "cannot open " + path.string();
        return false;
    }
    buffer_.resize(kChunkSize);
    return true;
}

void ChunkedInput::Attach(ByteView memory) {
    Close();
    begin_ = pos_ = memory.data();
    end_ = memory.data() + memory.size();
}

void ChunkedInput::Close() {
    file_.reset();
    begin_ = pos_ = end_ = nullptr;
    consumed_before_ = 0;
    read_failed_ = false;
}

bool ChunkedInput::Refill() {
    if (pos_ != end_) return true;
    if (!file_) return false;
    consumed_before_ += static_cast<std::uint64_t>(end_ - begin_);
    const std::size_t got = std::fread(buffer_.data(), 1, buffer_.size(), file_.get());
    begin_ = pos_ = buffer_.data();
    end_ = begin_ + got;
    if (got == 0) {
        if (std::ferror(file_.get())) read_failed_ = true;
        return false;
    }
    if (progress_) progress_(consumed_before_ + got);
    return true;
}

std::size_t ChunkedInput::Read(std::uint8_t* out, std::size_t n) {
    std::size_t done = 0;
    while (done < n) {
        if (pos_ == end_ && !Refill()) break;
        const std::size_t take = std::min(n - done, static_cast<std::size_t>(end_ - pos_));
        if (out != nullptr) std::memcpy(out + done, pos_, take);
        pos_ += take;
        done += take;
    }
    return done;
}

bool ReadBytesCounted(ChunkedInput& in, std::uint8_t* out, std::int32_t& count) {
    while (count > 0) {
        const std::size_t want = static_cast<std::size_t>(count);
        const std::size_t got = in.Read(out, want);
        if (out != nullptr) out += got;
        count -= static_cast<std::int32_t>(got);
        if (got < want) return true;
    }
    return false;
}

std::string NoRecordText(std::uint64_t run_start) {
    return "no record in " + std::to_string(kMaxSkippedBytes) + " bytes from byte " + std::to_string(run_start);
}

std::int32_t StorageBlockData(std::uint8_t storage_mode) {
    if (storage_mode == 'S') return 32000;
    if (storage_mode == ' ' || storage_mode == 'M') return 250;
    return 0;
}

bool CiiStoredReader::ReadAfterBoundary(std::uint8_t& b) {
    std::uint8_t continuation;
    if (!in_.Get(continuation)) return false;
    // A mode without blocks leaves the counter used up: every data byte follows a dropped one.
    if (block_data_ > 0) block_counter_ = block_data_ - 1;
    return in_.Get(b);
}

bool CiiStoredReader::ReadStoredBytes(std::uint8_t* out, std::size_t n) {
    while (n > 0) {
        if (block_counter_ <= 0) {
            if (block_data_ == 0) {
                std::uint8_t b;
                if (!ReadAfterBoundary(b)) return false;
                if (out != nullptr) *out++ = b;
                --n;
                continue;
            }
            if (in_.Read(nullptr, 1) != 1) return false;
            block_counter_ = block_data_;
        }
        const std::size_t take = std::min(n, static_cast<std::size_t>(block_counter_));
        const std::size_t got = in_.Read(out, take);
        block_counter_ -= static_cast<std::int32_t>(got);
        if (got < take) return false;
        if (out != nullptr) out += got;
        n -= got;
    }
    return true;
}

bool CiiStoredReader::ReadElementLength(std::int64_t& remaining, std::int32_t& length, ConversionLog& log) {
    // One byte at a time through a cursor that hands the position back as it ends.
    return StoredCursor(*this).ElementLength(remaining, length, log);
}

bool StoredCursor::LongLength(std::uint8_t b, std::int64_t& remaining, std::int32_t& length, ConversionLog& log) {
    length = 0;
    if (b != 0xF2) {
        WriteErrorLog(log, cii_read_code::kBadLengthByte, "", 1);
        return true;
    }
    std::uint8_t high = 0;
    std::uint8_t low = 0;
    if (!Byte(high)) return false;
    --remaining;
    if (!Byte(low)) return false;
    --remaining;
    length = high * 256 + low;
    return true;
}

std::int32_t FindLocalItemBySerial(const ItemList& local_items, std::int32_t serial) {
    for (std::int32_t i = 1; i <= local_items.Count(); ++i) {
        if (local_items[i].項目通番 == serial) return i;
    }
    return 0;
}

std::int64_t LeadingNumber(std::string_view text) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max() / 10 - 9;
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    std::size_t i = 0;
    while (i < text.size() && blank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    std::int64_t value = 0;
    for (; i < text.size(); ++i) {
        if (blank(text[i])) continue;
        if (text[i] < '0' || text[i] > '9') break;
        if (value < kMax) value = value * 10 + (text[i] - '0');
    }
    return negative ? -value : value;
}

bool GroupNamed(const RecordFormatItem& item, GroupMatch match, std::int32_t group_number) {
    const std::string& number = item.マルチ明細番号;
    switch (match) {
        case GroupMatch::kFirst:
            return true;
        case GroupMatch::kCharacter:
            // Writers put the character's code after 0xFA; a digit also matches by its value.
            if (number.size() == 1 && static_cast<std::uint8_t>(number[0]) == group_number) return true;
            return group_number >= '0' && group_number <= '9' &&
                   std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
                   !number.empty() && LeadingNumber(number) == group_number - '0';
        case GroupMatch::kNumber:
            return LeadingNumber(number) == group_number;
    }
    return false;
}

void PutIntoRecord(Bytes& record, std::int64_t position, ByteView text, std::size_t limit) {
    if (position < 1) return;
    const std::size_t start = std::min(static_cast<std::size_t>(position - 1), record.size());
    if (start >= limit) return;
    const std::size_t length = std::min(text.size(), limit - start);
    if (length == 0) return;
    if (start + length > record.size()) record.resize(start + length);
    std::memcpy(record.data() + start, text.data(), length);
}

}  // namespace edi
