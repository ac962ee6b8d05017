#include "transfer/MailReceipt.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "transfer/FileNaming.h"

namespace edi {
namespace {

namespace fs = std::filesystem;

std::string HiddenBeside(const std::string& file, const char* suffix) {
    const fs::path path(file);
    return (path.parent_path() / ("." + path.filename().string() + suffix)).string();
}

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Receipt lines hold texts of the mail's headers and store: a line break would end the field.
std::string OneLine(std::string text) {
    std::replace(text.begin(), text.end(), '\n', ' ');
    std::replace(text.begin(), text.end(), '\r', ' ');
    return text;
}

}  // namespace

std::vector<std::size_t> PartnerMailsOldestFirst(const std::vector<FetchedMail>& mails, const std::string& partner) {
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < mails.size(); ++i) {
        // The partner is recognised by the exact address, letter case included.
        if (mails[i].sender == partner) order.push_back(i);
    }
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        const std::string& da = mails[a].date;
        const std::string& db = mails[b].date;
        if (da.empty() || db.empty()) return !da.empty() && db.empty();
        return da < db;
    });
    return order;
}

std::string ReceiptPath(const std::string& stored_file) { return HiddenBeside(stored_file, ".mail"); }
std::string StagingPath(const std::string& stored_file) { return HiddenBeside(stored_file, ".mail-part"); }

bool WriteReceipt(const std::string& path, const FetchedMail& mail) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << OneLine(mail.uid) << "\n" << OneLine(mail.message_id) << "\n" << OneLine(mail.sender) << "\n";
    out.close();
    return !out.fail();
}

std::optional<FetchedMail> ReadReceipt(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    FetchedMail mail;
    if (!in || !std::getline(in, mail.uid)) return std::nullopt;
    std::getline(in, mail.message_id);
    std::getline(in, mail.sender);
    return mail;
}

bool SameMail(const FetchedMail& a, const FetchedMail& b) {
    if (!a.uid.empty() && a.uid == b.uid) return true;
    return !a.message_id.empty() && a.message_id == b.message_id && a.sender == b.sender;
}

std::vector<std::string> PendingReceipts(const std::string& folder, const std::string& center_code) {
    std::vector<std::string> receipts;
    const std::string cii = "_RCV_" + FileCenterCode(center_code) + ".CII.mail";
    const std::string xml = "_RCV_" + FileCenterCode(center_code) + ".XML.mail";
    std::error_code ec;
    for (fs::directory_iterator it(folder.empty() ? "." : folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() < 2 || name[0] != '.' || (!EndsWith(name, cii) && !EndsWith(name, xml))) continue;
        const std::string stored = name.substr(1, name.size() - 1 - std::string(".mail").size());
        std::error_code exists_error;
        if (fs::is_regular_file(PathInFolder(folder, stored), exists_error)) {
            receipts.push_back(PathInFolder(folder, name));
        }
    }
    return receipts;
}

}  // namespace edi
