// libFuzzer entry over the CII-to-local reader, the dump listing and the integrity check: any
// bytes, the benchmark's masters for every group, lines and listing dropped. Built by the "fuzz"
// preset (clang).
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <streambuf>

#include "CiiBenchMaster.h"
#include "convert/CiiCheck.h"
#include "convert/CiiDump.h"
#include "convert/CiiToLocal.h"

namespace {

class NullBuffer final : public std::streambuf {
protected:
    int overflow(int c) override { return c; }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
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

    static NullBuffer null_buffer;
    static std::ostream null_stream(&null_buffer);
    edi::ChunkedInput again;
    again.Attach(edi::ByteView(data, size));
    edi::DumpCii(again, &masters, null_stream);

    // Every fault lies within the file, or just past it for a file that ends too early.
    edi::ChunkedInput checked;
    checked.Attach(edi::ByteView(data, size));
    edi::CiiCheckListener listener;
    listener.fault = [size](const edi::CiiFault& fault) {
        if (fault.offset > size) __builtin_trap();
        return true;
    };
    edi::CheckCii(checked, listener);
    return 0;
}
