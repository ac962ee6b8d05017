#include "transfer/ProgramConverters.h"

#include "convert/LocalCiiConversion.h"
#include "convert/codec/ErrorLog.h"

namespace edi {

// This build carries no XML/CII converter yet: the call says so in ERR.LOG and converts
// nothing, so the CII conversion that follows finds no CII file and the stage fails.
void ProgramConverters::XmlCiiConvert(WorkArea& work, const std::string& xml_path, const std::string&, std::int32_t,
                                      ConversionValues&) {
    WriteErrorLog(work.Log, 9999, "XML/CII converter not available in this build: " + xml_path + " not converted");
}

void ProgramConverters::RunLocalCiiConversion(WorkArea& work, const std::string& center_code, std::int32_t serial,
                                              const std::string& kind, const std::string& cii_path,
                                              const std::string& local_path, std::string& result,
                                              ConversionValues& values) {
    CiiGroupSummary summary;
    LocalCiiOptions options;
    options.summary = &summary;
    edi::RunLocalCiiConversion(work, center_code, serial, kind, cii_path, local_path, result, options);
    // A conversion that reached no group leaves the values of the one before.
    if (!summary.Bpid.empty()) values.BPID = summary.Bpid;
    if (!summary.InfoKind.empty()) values.取引情報区分 = summary.InfoKind;
}

}  // namespace edi
