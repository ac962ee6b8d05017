#include "transfer/ProgramConverters.h"

#include "convert/codec/ErrorLog.h"

namespace edi {

// This build carries neither converter yet: each call says so in ERR.LOG and fails, so the
// job stops at its conversion stage with the received file left in the receive folder.
void ProgramConverters::XmlCiiConvert(WorkArea& work, const std::string& xml_path, const std::string&, std::int32_t,
                                      ConversionValues&) {
    WriteErrorLog(work.Log, 9999, "XML/CII converter not available in this build: " + xml_path + " not converted");
}

void ProgramConverters::RunLocalCiiConversion(WorkArea& work, const std::string&, std::int32_t, const std::string&,
                                              const std::string& cii_path, const std::string&, std::string& result,
                                              ConversionValues&) {
    WriteErrorLog(work.Log, 9999, "CII/local converter not available in this build: " + cii_path + " not converted");
    result = "9999";
}

}  // namespace edi
