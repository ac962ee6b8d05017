#include "convert/LocalCiiConversion.h"

#include <cstdio>

namespace edi {

std::string RunLocalCiiConversion(std::string_view center_code, std::int64_t serial, std::string_view kind,
                                  const std::filesystem::path& input, const std::filesystem::path& output,
                                  FormatMasterSource& masters, ConversionLog& log, const Clock& clock,
                                  const LocalCiiOptions& options) {
    log.ErrorCode.clear();
    char serial_text[32];
    std::snprintf(serial_text, sizeof serial_text, "%08lld", static_cast<long long>(serial));
    const LocalDateTime now = clock.Now();
    WriteErrorLog(log, 0,
                  std::string("--K800400 start--") + serial_text + "  " + FormatDate(now) + " " + FormatTime(now));
    if (kind == kLocalToCii) {
        LocalToCiiOptions o;
        o.progress = options.progress;
        o.summary = options.summary;
        WriteCiiFromLocal(input, output, masters, log, clock, o);
    } else if (kind == kCiiToLocal) {
        CiiToLocalOptions o;
        o.progress = options.progress;
        o.summary = options.summary;
        o.test_template = options.test_template;
        ReadCiiToLocal(input, output, masters, log, o);
    }
    return log.ErrorCode.empty() ? std::string("0000") : log.ErrorCode;
}

}  // namespace edi
