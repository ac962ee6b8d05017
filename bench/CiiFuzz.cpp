// libFuzzer entry over the CII-to-local reader: any bytes, the benchmark's masters for every
// group, lines counted and dropped. Built by the "fuzz" preset (clang).
#include <cstddef>
#include <cstdint>

#include "CiiBenchMaster.h"
#include "convert/CiiToLocal.h"

namespace {

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
    static edi::bench::AnyKindMasters masters;
    edi::ConversionLog log;
    log.file = "";  // no log file: the lines are not looked at
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
