#include "transfer/JobOutcome.h"

#include "convert/codec/Codec.h"

namespace edi {
namespace {

std::string Meaning(const JobOutcome& o) {
    if (o.stage == "database") {
        return "the database failed during the job (ERR.LOG says why): it stays open and the next run carries it on";
    }
    if (o.stage == "archive") return "the job's files could not all be copied to OLD_FILE (ERR.LOG says which)";
    if (o.stage == "job") return o.code == "0000" ? "ended well" : "the job could not be numbered in the history";
    if (o.stage == "receive") {
        if (o.code == "5001") return "the link package's file could not be taken over";
        if (o.code == "5100" && o.detail == "5101") return "a partner mail without attachment stays unread";
        if (o.code == "5100" && o.detail == "5102") {
            return "a partner mail whose attachment does not decode stays unread (ERR.LOG says why)";
        }
        if (o.code == "5100") return "the mail transport failed";
        if (o.code == "6101") return "method Z but the center row names no link-package file";
        if (o.code == "7002") return "the center has no row in FL1903EDI制御マスタ";
        return "the receive stage could not write its history row";
    }
    if (o.stage == "conversion") return "the conversion failed (ERR.LOG says why) or found no received file";
    if (o.code == "4100" && o.detail == "0001") return "the registration program could not be started";
    if (o.code == "4100" && o.detail == kRegistrationInterrupted) {
        return "the run ended while the registration program ran and no status file came: the message may be "
               "partly registered";
    }
    if (o.code == "4100") return "the registration program left no status file";
    if (o.code == "7300") return "the center has no partner company";
    return "the status file is unreadable or its end code is not zero";
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
    return code + " " + Meaning(outcome);
}

}  // namespace edi
