#include "transfer/MailTransfer.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <regex>

#include "startup/IniFile.h"
#include "startup/Settings.h"
#include "transfer/FileMove.h"
#include "transfer/FileNaming.h"
#include "transfer/MailReceipt.h"
#include "transfer/MailSender.h"

namespace edi {

namespace {

constexpr const char* kCheckDone = "パラメータチェック";
constexpr const char* kSettingsRead = "INIファイル読込み";
constexpr const char* kSendStart = "送信処理開始";
constexpr const char* kReceiveStart = "受信処理開始";
constexpr const char* kLoggedOn = "ログオン";
constexpr const char* kInboxSearched = "受信トレイ検索";
constexpr const char* kAttachmentsStored = "添付ファイル格納";
constexpr const char* kLoggedOff = "ログオフ";
constexpr const char* kNothingToSend = "送信添付ファイルなし";
constexpr const char* kMessageComposed = "メッセージを作成";
constexpr const char* kRecipientAddress = "Pi_Rec.Pi_相手先メールアドレス";
constexpr const char* kRecipientCreated = "受信者オブジェクトの作成";
constexpr const char* kAttachmentAdded = "添付ファイル作成";
constexpr const char* kSent = "送信";
constexpr const char* kNoAttachment = "添付ファイルなし: ";
constexpr const char* kDamagedAttachment = "添付ファイル破損: ";

// The EDI.ini the settings come from: K500100_INI's file, else the one in IniFolder.
std::filesystem::path MailIniPath(const WorkArea& work) {
    if (work.IniOverride) return *work.IniOverride;
    return std::filesystem::path(PathInFolder(work.IniFolder, "EDI.ini"));
}

std::string DefaultStore(const WorkArea& work) {
    std::error_code ec;
    std::filesystem::path folder = std::filesystem::absolute(
        work.IniFolder.empty() ? std::filesystem::path(".") : std::filesystem::path(work.IniFolder), ec);
    if (ec) folder = work.IniFolder;
    return "maildir://" + (folder.lexically_normal() / "Maildir").string();
}

// Sent mails come from the profile's address; a bare user name gets this machine's name.
std::string SenderAddress(const std::string& profile) {
    if (profile.find('@') != std::string::npos) return profile;
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') std::snprintf(host, sizeof host, "localhost");
    return (profile.empty() ? std::string("k500100") : profile) + "@" + host;
}

std::string EscapeForPattern(std::string_view text) {
    static constexpr std::string_view kSpecial = "\\^$.|?*+()[]{}";
    std::string out;
    for (const char c : text) {
        if (kSpecial.find(c) != std::string_view::npos) out += '\\';
        out += c;
    }
    return out;
}

}  // namespace

std::string ExpandMailText(std::string_view value) {
    std::string out;
    out.reserve(value.size() + 8);
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size() && value[i + 1] == 'n') {
            out += "\r\n";
            ++i;
        } else {
            out += value[i];
        }
    }
    return out;
}

std::string MailSubject(const LocalDateTime& now) {
    return "EDIデータ" + FormatDate(now) + " " + FormatTime(now) + "送信";
}

std::string SendFilePattern(std::int64_t serial, std::string_view center_code, std::string_view letter) {
    std::string pattern = SerialPart(serial) + "_SND_" + EscapeForPattern(FileCenterCode(center_code));
    pattern += letter == "X" ? "([0-9]{4}).XML" : ".CII";
    return pattern;
}

MailTransport::MailTransport(const WorkArea& work, ProgressView& progress, MessageBoxes& messages, const Clock& clock)
    : work_(work), progress_(progress), messages_(messages), clock_(clock) {}

MailTransport::~MailTransport() = default;

int MailTransport::RunMailTransfer(MailRequest& request) {
    request_ = &request;
    progress_.Clear();
    progress_.Show();
    if (CheckMailRequest(request) != 0) {
        progress_.Close();
        request.Result = "9999";
        request_ = nullptr;
        return 9;
    }
    progress_.AddLine(kCheckDone);
    send_files_.clear();
    failure_code_.clear();
    ReadMailSettings();
    progress_.AddLine(kSettingsRead);
    if (settings_.Tls.allow_plain) {
        LogLine(kMailPlainAllowed,
                "mail: AllowPlain is set: user name, password and mails may cross the network without TLS", true);
    }

    int outcome = 99;
    try {
        if (request.Direction == "S") {
            progress_.AddLine(kSendStart);
            outcome = SendByMail();
        } else {
            progress_.AddLine(kReceiveStart);
            outcome = ReceiveByMail();
        }
    } catch (const std::exception& e) {
        // The service adapter reports with codes; this only catches what the standard library throws.
        ShowError(MailError{kMailFailure, std::string("Unspecified failure has occurred (") + e.what() + ")"});
        outcome = 99;
    }
    session_.reset();
    progress_.Close();
    request.Result = outcome == 0 ? "0000" : (failure_code_.empty() ? "9999" : failure_code_);
    request_ = nullptr;
    return outcome == 0 ? 0 : 9;
}

int MailTransport::CheckMailRequest(const MailRequest& request) {
    if (request.CenterCode.empty() || request.MailAddress.empty()) return 99;
    if (request.Direction != "R" && request.Direction != "S") return 99;
    if (request.DataKind != "C" && request.DataKind != "X") return 99;
    return 0;
}

void MailTransport::ReadMailSettings() {
    const IniFile ini = IniFile::Load(MailIniPath(work_));
    settings_ = MailSettings{};
    settings_.ProfileName = IniValueOf(ini, "MAPI", "ProfileName", kMailSettingBuffer);
    settings_.Password = IniValueOf(ini, "MAPI", "Password", kMailSettingBuffer);
    settings_.MailText = ExpandMailText(IniValueOf(ini, "MAIL", "MAIL-TEXT", kMailSettingBuffer));
    settings_.Store = IniValueOf(ini, "MAPI", "Store", kMailServiceBuffer);
    if (settings_.Store.empty()) settings_.Store = DefaultStore(work_);
    settings_.Transport = IniValueOf(ini, "MAPI", "Transport", kMailServiceBuffer);
    const std::optional<double> timeout = StrictNumber(IniValueOf(ini, "MAPI", "Timeout", kMailSettingBuffer));
    settings_.TimeoutSeconds =
        (timeout && *timeout >= 1 && *timeout <= 3600) ? static_cast<int>(*timeout) : kDefaultMailTimeoutSeconds;
    settings_.Tls.ca_file = IniValueOf(ini, "MAPI", "CAFile", kMailServiceBuffer);
    settings_.Tls.fingerprint = IniValueOf(ini, "MAPI", "CertFingerprint", kMailServiceBuffer);
    settings_.Tls.allow_plain = IniSwitchOn(IniValueOf(ini, "MAPI", "AllowPlain", kMailSettingBuffer));
    settings_.AuthServId = IniValueOf(ini, "MAPI", "AuthServId", kMailSettingBuffer);
}

int MailTransport::MailLogon() {
    MailServiceConfig config;
    config.store = settings_.Store;
    config.transport = settings_.Transport;
    config.user = settings_.ProfileName;
    config.password = settings_.Password;
    config.timeout_seconds = settings_.TimeoutSeconds;
    config.tls = settings_.Tls;
    session_.reset();
    const MailError error = MailSession::Logon(config, session_);
    if (error.failed()) {
        ShowError(error);
        return 99;
    }
    return 0;
}

int MailTransport::MailLogoff() {
    if (session_) session_->Logoff();
    session_.reset();
    return 0;
}

int MailTransport::ReceiveByMail() {
    more_waiting_ = false;
    if (MailLogon() != 0) return 99;
    progress_.AddLine(kLoggedOn);

    // Over IMAP only mails whose From holds the partner address are listed; the sender rule
    // decides.
    if (const MailError error = session_->FetchUnreadMails(mails_, request_->MailAddress); error.failed()) {
        ShowError(error);
        MailLogoff();
        return 99;
    }
    progress_.AddLine(kInboxSearched);
    ApplySenderRule();

    const std::vector<std::size_t> settled = SettleReceipts();
    std::vector<std::size_t> order = PartnerMailsOldestFirst(mails_, request_->MailAddress);
    std::erase_if(order, [&](std::size_t i) {
        return std::find(settled.begin(), settled.end(), i) != settled.end() ||
               (reported_ != nullptr && std::find(reported_->begin(), reported_->end(), mails_[i].uid) != reported_->end());
    });

    const std::string kind = request_->DataKind == "C" ? "CII" : "XML";
    const std::string destination =
        PathInFolder(work_.EDIINFIL, ReceivedFileName(Serial(), request_->CenterCode, kind));
    // One partner mail is one message: the oldest one is this job's. One whose attachment
    // cannot be stored stays unread, and this job's row says why; the run's next job passes it
    // over and takes the next mail.
    int outcome = 0;
    if (!order.empty()) {
        const std::size_t index = order.front();
        SavedAttachment saved;
        if (const MailError error = StoreMail(index, destination, saved); error.failed()) {
            ShowError(error);
            outcome = 99;
        } else if (saved.status != AttachmentStatus::kComplete) {
            const bool none = saved.status == AttachmentStatus::kNone;
            const int code = none ? kMailNoAttachment : kMailDamagedAttachment;
            progress_.AddLine((none ? kNoAttachment : kDamagedAttachment) + mails_[index].sender);
            LogLine(code, "mail: a mail of " + request_->MailAddress + " is not stored and stays unread: " + saved.detail,
                    false);
            failure_code_ = FormatCode(code);
            if (reported_ != nullptr) reported_->push_back(mails_[index].uid);
            outcome = 99;
        }
        more_waiting_ = order.size() > 1;
    }
    if (outcome == 0) progress_.AddLine(kAttachmentsStored);
    MailLogoff();
    if (outcome == 0) progress_.AddLine(kLoggedOff);
    return outcome;
}

void MailTransport::ApplySenderRule() {
    const std::string& partner = request_->MailAddress;
    for (FetchedMail& mail : mails_) {
        SenderVerdict sender = CheckPartnerSender(mail.header, partner, settings_.AuthServId);
        if (!mail.header_whole) {
            sender.partner = false;
            sender.reason = "its header is longer than " + std::to_string(kMailHeaderLimit) + " bytes";
        }
        if (sender.partner) continue;
        // Mails of others stay unread and unmentioned; one that names the partner is logged.
        if (sender.mentions_partner) {
            LogLine(kMailNotPartner, "mail: not taken as the partner's (" + partner + "): " + sender.reason, true);
        }
        mail.sender.clear();
    }
}

MailError MailTransport::StoreMail(std::size_t index, const std::string& destination, SavedAttachment& saved) {
    // Written whole under a hidden name, then the receipt, then the job's name, and only then is
    // the mail marked read: at no moment can the mail be lost or taken a second time.
    const std::string staging = StagingPath(destination);
    const std::string receipt = ReceiptPath(destination);
    MailError error = session_->SaveAttachment(index, staging, saved);
    if (error.failed() || saved.status != AttachmentStatus::kComplete) return error;
    std::string reason;
    if (!FlushFile(staging, reason) || !WriteReceipt(receipt, mails_[index])) {
        std::error_code ec;
        std::filesystem::remove(staging, ec);
        std::filesystem::remove(receipt, ec);
        return MailError{kMailAttachmentWriteFailure,
                         "Attachment write failure (" + (reason.empty() ? receipt : reason) + ")"};
    }
    std::error_code ec;
    std::filesystem::rename(staging, destination, ec);
    if (ec) {
        const MailError failure{kMailAttachmentWriteFailure,
                                "Attachment write failure (" + destination + ": " + ec.message() + ")"};
        std::filesystem::remove(staging, ec);
        std::filesystem::remove(receipt, ec);
        return failure;
    }
    // The stored message goes on; a mark that failed is made by the next receive of the center.
    if (error = session_->MarkRead(index); error.failed()) return error;
    std::filesystem::remove(receipt, ec);
    return {};
}

std::vector<std::size_t> MailTransport::SettleReceipts() {
    std::vector<std::size_t> settled;
    for (const std::string& receipt : PendingReceipts(work_.EDIINFIL, request_->CenterCode)) {
        const std::optional<FetchedMail> stored = ReadReceipt(receipt);
        // An unreadable receipt stays for an operator: it is the only word of that mail.
        bool marked = stored.has_value();
        for (std::size_t i = 0; stored && i < mails_.size(); ++i) {
            if (!SameMail(*stored, mails_[i])) continue;
            settled.push_back(i);
            if (session_->MarkRead(i).failed()) marked = false;
        }
        std::error_code ec;
        if (marked) std::filesystem::remove(receipt, ec);
    }
    return settled;
}

int MailTransport::SendByMail() {
    send_files_.clear();
    std::regex pattern;
    try {
        pattern = std::regex(SendFilePattern(Serial(), request_->CenterCode, request_->DataKind),
                             std::regex::ECMAScript | std::regex::icase);
    } catch (const std::regex_error& e) {
        ShowError(MailError{kMailFailure, std::string("Unspecified failure has occurred (") + e.what() + ")"});
        return 99;
    }
    // A send folder that cannot be listed holds no file to send.
    std::error_code ec;
    for (std::filesystem::directory_iterator it(work_.EDIOUTFIL.empty() ? "." : work_.EDIOUTFIL, ec), end;
         !ec && it != end; it.increment(ec)) {
        if (!it->is_regular_file(ec)) continue;
        const std::string name = it->path().filename().string();
        if (std::regex_search(name, pattern)) send_files_.push_back(name);
    }
    if (send_files_.empty()) {
        progress_.AddLine(kNothingToSend);
        return 0;
    }

    if (MailLogon() != 0) return 99;
    progress_.AddLine(kLoggedOn);

    outgoing_ = OutgoingMail{};
    outgoing_.from = SenderAddress(settings_.ProfileName);
    outgoing_.subject = MailSubject(clock_.Now());
    outgoing_.body = settings_.MailText;
    progress_.AddLine(kMessageComposed);

    std::string display_name;
    if (const MailError error = ResolveMailAddress(request_->MailAddress, display_name); error.failed()) {
        ShowError(error);
        MailLogoff();
        return 99;
    }
    outgoing_.to = request_->MailAddress;
    progress_.AddLine(kRecipientAddress);
    progress_.AddLine(display_name);
    progress_.AddLine(kRecipientCreated);

    if (AttachSendFile() != 0) {
        MailLogoff();
        return 99;
    }
    progress_.AddLine(kAttachmentAdded);
    if (SendMail() != 0) {
        MailLogoff();
        return 99;
    }
    progress_.AddLine(kSent);
    MailLogoff();
    progress_.AddLine(kLoggedOff);
    return 0;
}

int MailTransport::AttachSendFile() {
    if (send_files_.empty()) {
        ShowError(MailError{kMailAttachmentNotFound, "Attachment not found"});
        return 99;
    }
    outgoing_.attachment = PathInFolder(work_.EDIOUTFIL, send_files_.front());
    std::error_code ec;
    if (!std::filesystem::is_regular_file(outgoing_.attachment, ec)) {
        ShowError(MailError{kMailAttachmentNotFound, "Attachment not found (" + outgoing_.attachment.string() + ")"});
        return 99;
    }
    return 0;
}

int MailTransport::SendMail() {
    if (!session_) {
        ShowError(MailError{kMailFailure, "Unspecified failure has occurred (not logged on)"});
        return 99;
    }
    if (const MailError error = session_->Send(outgoing_); error.failed()) {
        ShowError(error);
        return 99;
    }
    return 0;
}

void MailTransport::ShowError(const MailError& error) {
    MessageRequest message;
    message.text = "Error " + std::to_string(error.number) + ": " + error.description;
    message.caption = kProgramTitle;
    message.icon = MessageIcon::kNone;
    message.buttons = MessageButtons::kOk;
    LogLine(error.number, "mail: " + error.description, false);
    messages_.Show(message);
}

void MailTransport::LogLine(int code, const std::string& text, bool warning) {
    ConversionLog log{work_.Log.file, {}};
    WriteErrorLog(log, code, text, warning ? 1 : 0);
}

std::int64_t MailTransport::Serial() const {
    const double serial = request_ ? request_->Serial : 0;
    if (!std::isfinite(serial)) return 0;
    return static_cast<std::int64_t>(std::llround(serial));
}

int RunMailTransfer(MailRequest& request, const WorkArea& work, ProgressView& progress, MessageBoxes& messages,
                    const Clock& clock) {
    MailTransport transport(work, progress, messages, clock);
    return transport.RunMailTransfer(request);
}

}  // namespace edi
