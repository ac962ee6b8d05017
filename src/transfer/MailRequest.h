// What the receive stage hands the mail transport, and what it gets back.
#pragma once

#include <string>

namespace edi {

struct MailRequest {
    std::string CenterCode;
    double Serial = 0;        // the job serial
    std::string Direction;    // "S" send, "R" receive
    std::string DataKind;     // "C" CII, "X" XML: half-width capitals only
    std::string MailAddress;  // the partner's address
    std::string Result;       // "0000" or "9999", filled by the transport
};

}  // namespace edi
