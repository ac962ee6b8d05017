// How one job ended, as the headless runner reports it: the first stage that did not end
// well, with the code and detail its history row holds, and what that means to an operator.
#pragma once

#include <string>
#include <string_view>

namespace edi {

// 詳細コード of a job row (枝番 0) whose job a later run of the terminal carried on.
inline constexpr std::string_view kCarriedOnCode = "8100";
// 終了コード of a stage row that the end of its run cut short; the carrying-on run did the
// stage again in the rows after it.
inline constexpr std::string_view kCutShortCode = "8101";
// 詳細コード of a registration row (終了コード "4100") whose run ended while the registration
// program was running, and which left no status file: it may have registered part of the message.
inline constexpr std::string_view kRegistrationInterrupted = "0003";

struct JobOutcome {
    std::string stage = "job";  // job, receive, conversion, registration, archive or database
    std::string code = "0000";  // the code of the row that tells the failure
    std::string detail;
    bool ok() const { return stage == "job" && code == "0000"; }
};

// The end code of a registration row is the status file's: a number of value 0, or blanks, is success.
bool RegistrationEndedWell(std::string_view end_code);

// One line for an operator: "5001/9999 the link package's file could not be taken over".
std::string OutcomeText(const JobOutcome& outcome);

}  // namespace edi
