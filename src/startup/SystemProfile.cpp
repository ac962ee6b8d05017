#include "startup/SystemProfile.h"

#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <vector>

namespace edi {
namespace {

std::string BeforeNul(const char* buffer, std::size_t size) {
    std::size_t n = 0;
    while (n < size && buffer[n] != '\0') ++n;
    return n < size ? std::string(buffer, n) : std::string();
}

}  // namespace

cProfile::cProfile() {
    utsname info{};
    if (uname(&info) == 0) {
        os_ = info.sysname;
        const std::string release = info.release;
        // "6.1.0-18-amd64": Ver "6.1", Build "0-18-amd64".
        const auto first = release.find('.');
        const auto second = first == std::string::npos ? std::string::npos : release.find_first_of(".-", first + 1);
        ver_ = release.substr(0, second);
        build_ = second == std::string::npos ? std::string() : release.substr(second + 1);
        csd_ver_ = info.version;
    } else {
        os_ = "Unknown OS";
    }
    char buffer[256] = {};
    if (getdomainname(buffer, sizeof buffer - 1) == 0) {
        domain_ = BeforeNul(buffer, sizeof buffer);
        if (domain_ == "(none)") domain_.clear();
    }
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) == 0) machine_ = BeforeNul(host, sizeof host);

    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> pw_buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd pw{};
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &pw, pw_buffer.data(), pw_buffer.size(), &found) == 0 && found != nullptr) {
        user_ = found->pw_name;
    }
}

MessageAnswer cProfile::ShowError(const ErrorInfo& error, std::string& caption, MessageBoxes& boxes) const {
    if (caption.empty()) caption = "System Error Reported By " + error.Source;
    MessageRequest request;
    request.text = "Error Code " + std::to_string(error.Number) + "\r\n" + error.Description;
    request.caption = caption;
    request.icon = MessageIcon::kCritical;
    request.buttons = MessageButtons::kOk;
    return boxes.Show(request);
}

}  // namespace edi
