// The local/CII converter's entry: kind "1" local records to CII, kind "2" CII to local records.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "convert/CiiToLocal.h"
#include "convert/FormatMasterSource.h"
#include "convert/LocalToCii.h"
#include "startup/Clock.h"
#include "startup/WorkArea.h"

namespace edi {

inline constexpr std::string_view kLocalToCii = "1";
inline constexpr std::string_view kCiiToLocal = "2";

struct LocalCiiOptions {
    std::function<void(std::uint64_t)> progress;  // bytes of the input read so far
    CiiGroupSummary* summary = nullptr;           // the last group's BPID, information kind, format
    std::filesystem::path test_template;          // kind "2": where test groups' lines go (CiiToLocalOptions)
};

// Clears log.ErrorCode, logs the start line "--K800400 start--" with the serial as eight digits,
// two spaces and the time, runs the converter of the kind (any other kind runs nothing) and
// returns the ResultCode: "0000", or the code of the failure that stopped the conversion.
// center_code is handed on for the callers' sake; the conversion does not use it.
std::string RunLocalCiiConversion(std::string_view center_code, std::int64_t serial, std::string_view kind,
                                  const std::filesystem::path& input, const std::filesystem::path& output,
                                  FormatMasterSource& masters, ConversionLog& log, const Clock& clock,
                                  const LocalCiiOptions& options = {});

// The same with the masters of the work area's database session and its ERR.LOG; result_code
// is set to "0000" on entry and to the failure's code.
void RunLocalCiiConversion(WorkArea& work, std::string_view center_code, std::int64_t serial, std::string_view kind,
                           const std::filesystem::path& input, const std::filesystem::path& output,
                           std::string& result_code, const LocalCiiOptions& options = {});

}  // namespace edi
