// The converters the program's jobs call.
#pragma once

#include "convert/XmlCii.h"
#include "transfer/JobSeams.h"

namespace edi {

class ProgramConverters final : public Converters {
public:
    void XmlCiiConvert(WorkArea& work, const std::string& xml_path, const std::string& cii_path, std::int32_t serial,
                       ConversionValues& values) override;
    void RunLocalCiiConversion(WorkArea& work, const std::string& center_code, std::int32_t serial,
                               const std::string& kind, const std::string& cii_path, const std::string& local_path,
                               std::string& result, ConversionValues& values) override;

private:
    // The XML converter keeps its group header and masters from one conversion to the next.
    XmlCiiState xml_state_;
};

}  // namespace edi
