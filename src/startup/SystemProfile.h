// What the program knows about the machine it runs on, collected once.
#pragma once

#include <string>

#include "startup/MessageBox.h"

namespace edi {

struct ErrorInfo {
    long Number = 0;
    std::string Source;
    std::string Description;
};

class cProfile {
public:
    cProfile();  // fills every field; a value that cannot be read stays empty

    const std::string& OS() const { return os_; }          // kernel family, e.g. "Linux"
    const std::string& Ver() const { return ver_; }        // major.minor of the kernel release
    const std::string& Build() const { return build_; }    // the rest of the release text
    const std::string& CSDVer() const { return csd_ver_; } // the kernel's version text
    const std::string& Domain() const { return domain_; }  // NIS domain; empty when none is set
    const std::string& machine() const { return machine_; }
    const std::string& User() const { return user_; }
    const std::string& Source() const { return source_; }

    // Shows the error with the critical icon and an OK button. An empty caption becomes
    // "System Error Reported By " + the error's source, and the caller sees it.
    MessageAnswer ShowError(const ErrorInfo& error, std::string& caption, MessageBoxes& boxes) const;

private:
    std::string os_, ver_, build_, csd_ver_, domain_, machine_, user_;
    std::string source_ = "Initialize In Profile";
};

}  // namespace edi
