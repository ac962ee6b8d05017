// libFuzzer entry over the EDI.ini reader. Built by the "fuzz" preset (clang); its seeds are kept
// in tests/data/startup/fuzz-ini and replayed by the tests.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "IniFuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::filesystem::path scratch =
        std::filesystem::temp_directory_path() / ("ini_fuzz-" + std::to_string(getpid()) + ".ini");
    if (!edi::bench::ReadIniOnce(edi::ByteView(data, size), scratch)) __builtin_trap();
    return 0;
}
