// The XML form of CII messages: the XML/CII converter's entry point, which picks the direction
// by the file name, the XML-to-CII writer and the CII-to-XML writer. Both directions stream:
// the XML side holds one message (or one group header) at a time, never the whole document.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "convert/ByteSink.h"
#include "convert/CiiLayout.h"
#include "convert/FormatMasterSource.h"
#include "convert/RecordFormat.h"
#include "convert/codec/ErrorLog.h"
#include "startup/WorkArea.h"

namespace edi {

// Codes of the XML/CII converter in ERR.LOG.
namespace xml_cii_code {
inline constexpr std::int32_t kNoFormatInfo = 1;     // failure: no FL1902 row for the header (CII to XML)
inline constexpr std::int32_t kNoMessageItems = 3;   // failure: no message-side FL1903 rows (CII to XML)
inline constexpr std::int32_t kTruncated = 7;        // failure: the CII file ends inside a record
inline constexpr std::int32_t kBadRecordKind = 8;    // warning: an unknown record kind, two bytes skipped
inline constexpr std::int32_t kNoRecord = 17;        // failure: no record kind in 32002 bytes in a row
inline constexpr std::int32_t kCannotRead = 31;      // failure: the input cannot be opened or read
inline constexpr std::int32_t kMalformedXml = 32;    // failure: not well-formed, or an entity that cannot be expanded
inline constexpr std::int32_t kUnknownElement = 33;  // warning: a data element without master item, skipped
inline constexpr std::int32_t kUnknownGroup = 34;    // warning: a group without master item, skipped whole
inline constexpr std::int32_t kBadHexText = 35;      // warning: a "B" value that is not pairs of hex digits, skipped
inline constexpr std::int32_t kCannotWrite = 36;     // failure: the output cannot be written (or libxml2 failed)
inline constexpr std::int32_t kMessageTooLong = 37;  // warning: a message over the 7-digit length, skipped
inline constexpr std::int32_t kNotXmlText = 38;      // warning: control characters of a value written as "?"
inline constexpr std::int32_t kNoGroupEnd = 39;      // warning: a CII file without group end: no XML written
inline constexpr std::int32_t kNotLocalText = 40;    // warning: characters the local code lacks ("?"), or a header
                                                     // text cut at its field's end
}  // namespace xml_cii_code

// What the converter keeps from one conversion to the next, for the life of the program.
struct XmlCiiState {
    CiiGroupHeader header;  // the current group header; all zero bytes at program start
    CiiGroupEnd group_end;
    // The document's encoding by its declaration: "M" Shift_JIS, "U" UTF-16, "S" ISO-2022-JP;
    // empty at program start, kept when a declaration names no encoding.
    std::string encoding_letter;
    FormatInfo format;
    ItemList message_items;
};

// True when the name's last three characters, upper-cased, are "CII": the CII-to-XML direction.
bool IsCiiFileName(std::string_view file_name);

enum class XmlCiiDirection {
    kByName,    // CII to XML when the input's name ends in "CII" (any case), else XML to CII
    kXmlToCii,
    kCiiToXml,
};

// Logs the start line "--K800300 start--" with the serial as eight digits, then converts in the
// direction. Failures are reported through log (ERR.LOG and ErrorCode); false when the
// conversion failed.
bool XmlCiiConvert(const std::filesystem::path& input, const std::filesystem::path& output, std::int32_t serial,
                   XmlCiiState& state, FormatMasterSource& masters, ConversionLog& log,
                   XmlCiiDirection direction = XmlCiiDirection::kByName);
// The same with the masters of the work area's database session and its ERR.LOG.
bool XmlCiiConvert(WorkArea& work, XmlCiiState& state, const std::filesystem::path& input,
                   const std::filesystem::path& output, std::int32_t serial,
                   XmlCiiDirection direction = XmlCiiDirection::kByName);

// Appends the CII records of one XML document to the CII file. The file changes only when the
// whole document was read: an unreadable or malformed document leaves it as it was.
bool XmlToCii(const std::filesystem::path& xml, const std::filesystem::path& cii, XmlCiiState& state,
              FormatMasterSource& masters, ConversionLog& log);
// The same into a sink. Records go to the sink as they are made: a caller that must not keep
// half a conversion writes to a FileSink and commits it only when this returns true.
bool XmlToCii(const std::filesystem::path& xml, ByteSink& cii, XmlCiiState& state, FormatMasterSource& masters,
              ConversionLog& log);
// The same from a document in memory (the fuzz target); name stands for the file in the log.
bool XmlToCii(ByteView document, const std::string& name, ByteSink& cii, XmlCiiState& state,
              FormatMasterSource& masters, ConversionLog& log);

// Writes the XML form of a CII file (replacing the XML file). See CiiToXml.cpp for the layout.
bool CiiToXml(const std::filesystem::path& cii, const std::filesystem::path& xml, XmlCiiState& state,
              FormatMasterSource& masters, ConversionLog& log);

// Value texts of the XML form. A number in general form: sign, digits without leading zeros and
// a fraction without trailing zeros, read as the platform reads a number from text ("0" for none).
std::string GeneralNumberText(std::string_view text);
// A date of fewer than six characters padded with zeros to six; a six-character date with its
// century in front: "20" for 00-50, "19" for 51-99 (any other text is kept as it stands).
std::string DateWithCentury(std::string_view text);

}  // namespace edi
