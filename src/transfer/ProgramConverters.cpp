#include "transfer/ProgramConverters.h"

#include "convert/LocalCiiConversion.h"
#include "convert/codec/ErrorLog.h"

namespace edi {

void ProgramConverters::XmlCiiConvert(WorkArea& work, const std::string& xml_path, const std::string& cii_path,
                                      std::int32_t serial, ConversionValues& values) {
    edi::XmlCiiConvert(work, xml_state_, xml_path, cii_path, serial);
    values.格納モード = xml_state_.format.格納モード;
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
