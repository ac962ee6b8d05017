#include "transfer/JobOutcome.h"

#include "convert/codec/Codec.h"
#include "transfer/CodeMeaning.h"

namespace edi {
namespace {

CodeSource SourceOf(const JobOutcome& o) {
    if (o.stage == "database") return CodeSource::kDatabase;
    if (o.stage == "archive") return CodeSource::kArchive;
    if (o.stage == "receive") return CodeSource::kReceive;
    if (o.stage == "conversion") return CodeSource::kConversion;
    if (o.stage == "registration") return CodeSource::kRegistration;
    return o.ok() ? CodeSource::kJob : CodeSource::kNumbering;
}

}  // namespace

bool RegistrationEndedWell(std::string_view end_code) {
    const std::string code = TrimBlanks(std::string(end_code));
    for (const char c : code) {
        if (c != '0') return false;
    }
    return true;
}

std::string OutcomeText(const JobOutcome& outcome) {
    std::string code = outcome.code;
    if (!outcome.detail.empty() && outcome.detail != "0000") code += "/" + outcome.detail;
    return code + " " + std::string(MeaningOf(SourceOf(outcome), outcome.code, outcome.detail).english);
}

}  // namespace edi
