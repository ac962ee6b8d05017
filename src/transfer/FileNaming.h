// Names of the files a job transfers: job serial, center code and data kind make
// the name, so every stage finds a job's file without being told where it is.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace edi {

// The job serial in decimal, zero-padded on the left to 8 digits; a longer serial
// keeps all its digits, a negative one keeps its sign in front ("-00000012").
std::string SerialPart(std::int64_t serial);

// The center part of a name: the code padded with spaces to 12 characters, then every
// space (padding and inner alike) turned into "_". A code longer than 12 characters is
// kept whole, never cut, so that two centers can never end up sharing a file name.
std::string FileCenterCode(std::string_view center_code);

// "CII" for C/c/Ｃ/ｃ, "XML" for X/x/Ｘ/ｘ, "Err" for anything else; the letter may carry
// spaces on either side.
std::string DataKindOf(std::string_view data_kind_letter);

// serial part + "_RCV_" + center part + "." + kind, e.g. 00000012_RCV_ABC_________.CII
std::string ReceivedFileName(std::int64_t serial, std::string_view center_code, std::string_view kind);
// serial part + "_SND_" + center part + "." + kind
std::string SendFileName(std::int64_t serial, std::string_view center_code, std::string_view kind);

// A configured folder joined with a file name: "/" is put between them unless the
// folder already ends with one; an empty folder leaves the name as it is.
std::string PathInFolder(std::string_view folder, std::string_view name);

}  // namespace edi
