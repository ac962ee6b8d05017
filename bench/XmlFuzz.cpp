// libFuzzer entry over the XML reader (xml2cii on a document in memory). Built by the "fuzz"
// preset (clang); its seeds are kept in tests/data/convert/fuzz-xml and replayed by the tests.
#include <cstddef>
#include <cstdint>

#include "XmlFuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // No log file: the lines are not looked at.
    if (!edi::bench::XmlToCiiOnce(edi::ByteView(data, size), "")) __builtin_trap();
    return 0;
}
