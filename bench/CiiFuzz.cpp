// libFuzzer entry over the CII-to-local reader: any bytes, the benchmark's masters for every
// group, lines counted and dropped. Built by the "fuzz" preset (clang).
#include <cstddef>
#include <cstdint>

#include "CiiBenchMaster.h"
#include "convert/CiiToLocal.h"

namespace {

// Answers every information kind and BPID with the benchmark's masters.
class AnyKindMasters final : public edi::FormatMasterSource {
public:
    AnyKindMasters() { edi::bench::AddBenchMasters(rows_); }
    edi::LoadResult LoadFormatInfo(std::string_view, std::string_view, edi::FormatInfo& info) override {
        return rows_.LoadFormatInfo(edi::bench::kKind, edi::bench::kBpid, info);
    }
    edi::LoadResult LoadMessageItems(std::string_view, std::string_view, edi::ItemList& items) override {
        return rows_.LoadMessageItems(edi::bench::kKind, edi::bench::kBpid, items);
    }
    edi::LoadResult LoadLocalItems(std::string_view, std::string_view, edi::ItemList& items) override {
        return rows_.LoadLocalItems(edi::bench::kKind, edi::bench::kBpid, items);
    }
    edi::LoadResult LoadMessageGroupInfo(std::string_view, std::string_view, std::string_view,
                                         edi::MessageGroupInfo& info) override {
        return rows_.LoadMessageGroupInfo(edi::bench::kPartner, edi::bench::kOwn, edi::bench::kKind, info);
    }

private:
    edi::MemoryMasters rows_;
};

class CountingSink final : public edi::ByteSink {
public:
    bool Write(edi::ByteView bytes) override {
        written += bytes.size();
        return true;
    }
    std::size_t written = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static AnyKindMasters masters;
    edi::ConversionLog log;
    log.file = "/dev/null";
    CountingSink sink;
    edi::CiiToLocalOptions options;
    options.sink = &sink;
    edi::ChunkedInput input;
    input.Attach(edi::ByteView(data, size));
    edi::ReadCiiToLocal(input, "/dev/null/local.txt", masters, log, options);
    // A line is at most the key, the record and one element more, per end byte in the input.
    if (sink.written > (size + 1) * (39 + 1579 + 65536 + 2)) __builtin_trap();
    return 0;
}
