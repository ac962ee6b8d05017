// Kind "2" of the local/CII converter: a received CII file becomes local fixed-length lines,
// one per message, appended to one local file per information kind.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "convert/ByteSink.h"
#include "convert/CiiLayout.h"
#include "convert/CiiReader.h"
#include "convert/FormatMasterSource.h"
#include "convert/RecordFormat.h"

namespace edi {

inline constexpr std::size_t kLocalKeySize = 39;

// What the conversion leaves behind for the conversion stage's history row: the last group's
// BPID, information kind and format information, and the lines written.
struct CiiGroupSummary {
    std::string Bpid;
    std::string InfoKind;
    FormatInfo Format;
    std::int64_t Lines = 0;      // every line written
    std::int64_t TestLines = 0;  // of them from groups whose 運用モード is "1" (test data)
};

struct CiiToLocalOptions {
    std::function<void(std::uint64_t)> progress;  // bytes of the CII file read so far
    ByteSink* sink = nullptr;                     // every line here instead of the local files (tests, fuzzing)
    CiiGroupSummary* summary = nullptr;
    // When set, a test group (運用モード "1") writes its lines to the file this template names
    // for its kind, not to the local file; the local file of the kind is made all the same.
    std::filesystem::path test_template;
};

// The last end position over the level-0 local items; a level-0 group spans 繰返し数 × 長さ.
std::int64_t LocalRecordLength(const ItemList& local_items);
// Spaces of the record length with every item's empty value ("K" full-width spaces, "9" "N" "Y"
// zeros with the decimal point) in each occurrence of the groups that enclose it.
Bytes BuildRecordTemplate(const ItemList& local_items);
// Five spaces, the information kind, six spaces, the sender code, the receiver code.
Bytes BuildLocalKey(const CiiGroupHeader& header);
// The local path of a group: the information kind goes in front of the path's first ".".
std::filesystem::path LocalPathFor(const std::filesystem::path& local_template, std::string_view info_kind);

// ReadCiiToLocal: reports only through log (ERR.LOG and log.ErrorCode).
void ReadCiiToLocal(const std::filesystem::path& cii_path, const std::filesystem::path& local_template,
                    FormatMasterSource& masters, ConversionLog& log, const CiiToLocalOptions& options = {});
// The same over an input that is already open (memory for the fuzz target).
void ReadCiiToLocal(ChunkedInput& input, const std::filesystem::path& local_template, FormatMasterSource& masters,
                    ConversionLog& log, const CiiToLocalOptions& options = {});

}  // namespace edi
