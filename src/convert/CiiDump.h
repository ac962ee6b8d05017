// A readable listing of a CII file for diagnosing a partner's file: records, group headers field
// by field, message prefixes, elements (tag, length, value, item name when masters are given) and
// group markers, with the byte offset of each.
#pragma once

#include <ostream>

#include "convert/CiiReader.h"
#include "convert/FormatMasterSource.h"

namespace edi {

// masters may be null (no item names). Returns false when the file ended inside a record.
bool DumpCii(ChunkedInput& input, FormatMasterSource* masters, std::ostream& out);

}  // namespace edi
