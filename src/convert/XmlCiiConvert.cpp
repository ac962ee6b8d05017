// The XML/CII converter's entry point.
#include <cctype>
#include <cstdio>

#include "convert/XmlCii.h"

namespace edi {

bool IsCiiFileName(std::string_view file_name) {
    if (file_name.size() < 3) return false;
    const std::string_view last = file_name.substr(file_name.size() - 3);
    return std::toupper(static_cast<unsigned char>(last[0])) == 'C' &&
           std::toupper(static_cast<unsigned char>(last[1])) == 'I' &&
           std::toupper(static_cast<unsigned char>(last[2])) == 'I';
}

bool XmlCiiConvert(const std::filesystem::path& input, const std::filesystem::path& output, std::int32_t serial,
                   XmlCiiState& state, FormatMasterSource& masters, ConversionLog& log, XmlCiiDirection direction) {
    char start[40];
    std::snprintf(start, sizeof start, "--K800300 start--%08d", serial);
    WriteErrorLog(log, 0, start, 0);
    const bool to_xml = direction == XmlCiiDirection::kByName ? IsCiiFileName(input.string())
                                                               : direction == XmlCiiDirection::kCiiToXml;
    if (to_xml) return CiiToXml(input, output, state, masters, log);
    return XmlToCii(input, output, state, masters, log);
}

bool XmlCiiConvert(WorkArea& work, XmlCiiState& state, const std::filesystem::path& input,
                   const std::filesystem::path& output, std::int32_t serial, XmlCiiDirection direction) {
    DatabaseMasters masters(work);
    return XmlCiiConvert(input, output, serial, state, masters, work.Log, direction);
}

}  // namespace edi
