// The converter's entry for a caller holding a work area (ediconv): masters read from the
// database session on every call. The job's converters keep a run's masters instead
// (ProgramConverters, MasterCache). Kept in its own file so that callers with masters in memory
// do not need the session.
#include "convert/LocalCiiConversion.h"

namespace edi {

void RunLocalCiiConversion(WorkArea& work, std::string_view center_code, std::int64_t serial, std::string_view kind,
                           const std::filesystem::path& input, const std::filesystem::path& output,
                           std::string& result_code, const LocalCiiOptions& options) {
    result_code = "0000";
    DatabaseMasters masters(work);
    const SystemClock clock;
    result_code = RunLocalCiiConversion(center_code, serial, kind, input, output, masters, work.Log, clock, options);
}

}  // namespace edi
