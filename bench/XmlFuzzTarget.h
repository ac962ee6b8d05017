// One run of the XML reader on any bytes, shared by the libFuzzer target and the replay of its
// seeds: xml2cii from memory against the benchmark's masters (they answer for every group), the
// CII records counted and dropped.
#pragma once

#include <string>

#include "CiiBenchMaster.h"
#include "convert/XmlCii.h"

namespace edi::bench {

// True when the conversion's result and its log agree: a success leaves no failure code.
inline bool XmlToCiiOnce(ByteView document, const std::filesystem::path& log_file) {
    static AnyKindMasters masters;
    ConversionLog log;
    log.file = log_file;
    XmlCiiState state;  // fresh for every input, as at program start
    MemorySink sink;
    const bool ok = XmlToCii(document, "fuzz.xml", sink, state, masters, log);
    return ok == log.ErrorCode.empty();
}

}  // namespace edi::bench
