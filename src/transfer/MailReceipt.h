// Which partner mail a receive takes, and the receipt that keeps a stored mail from being
// taken twice. Storing an attachment and marking its mail read cannot happen at once: between
// the two a hidden receipt beside the stored file names the mail, so that a run that ended in
// between (or a mark that failed) is made good by the next receive of the center, which marks
// that mail read and never takes it again.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "transfer/MailService.h"

namespace edi {

// Indexes of the mails whose sender is the partner address exactly, oldest Date first; mails
// without a usable date come last, in the store's order.
std::vector<std::size_t> PartnerMailsOldestFirst(const std::vector<FetchedMail>& mails, const std::string& partner);

// The receipt of a stored file: "." + its name + ".mail" in the same folder.
std::string ReceiptPath(const std::string& stored_file);
// The hidden name an attachment is written under before it takes the stored file's name.
std::string StagingPath(const std::string& stored_file);

bool WriteReceipt(const std::string& path, const FetchedMail& mail);
std::optional<FetchedMail> ReadReceipt(const std::string& path);

// The same mail: the store's id, or the Message-ID and sender, agree.
bool SameMail(const FetchedMail& a, const FetchedMail& b);

// Receipts in the folder whose stored file, received for the center, is there.
std::vector<std::string> PendingReceipts(const std::string& folder, const std::string& center_code);

}  // namespace edi
