// The mail transport: fetches a partner's message file from the inbox's unread mails,
// or sends the job's prepared file to the partner, showing one progress line per step.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "startup/Clock.h"
#include "startup/MessageBox.h"
#include "startup/WorkArea.h"
#include "transfer/MailRequest.h"
#include "transfer/MailService.h"
#include "transfer/ProgressView.h"

namespace edi {

// Sections MAPI and MAIL of EDI.ini, read every time the transport runs.
struct MailSettings {
    std::string ProfileName;  // the store's user
    std::string Password;
    std::string MailText;     // body of sent mails, "\n" already turned into CR LF
    std::string Store;        // where mails are fetched from; the Maildir beside EDI.ini when not set
    std::string Transport;    // where mails are sent through
    int TimeoutSeconds = 20;  // longest silence of a server before the step fails
    TlsSettings Tls;          // CAFile, CertFingerprint, AllowPlain
    std::string AuthServId;   // the site's mail server whose Authentication-Results vouch for the partner
};

// Codes of a partner mail that is not stored: the receive stage's 詳細コード under "5100",
// and the ERR.LOG line that says why.
inline constexpr int kMailNoAttachment = 5101;       // no part counts as the attachment
inline constexpr int kMailDamagedAttachment = 5102;  // the attachment does not decode or is cut off
inline constexpr int kMailNotPartner = 5103;  // ERR.LOG warning: a mail naming the partner failed the sender rule

// Each plain mail setting is read into a buffer of this many bytes, so 63 are kept.
inline constexpr std::size_t kMailSettingBuffer = 64;
// Store and Transport hold paths and host names, so they get a path-sized buffer.
inline constexpr std::size_t kMailServiceBuffer = 260;
inline constexpr int kDefaultMailTimeoutSeconds = 20;

// Every two-character sequence backslash + n becomes CR LF; nothing else changes.
std::string ExpandMailText(std::string_view value);

// "EDIデータ" + "yyyy/mm/dd hh:mm:ss" + "送信"
std::string MailSubject(const LocalDateTime& now);

// The case-insensitive expression that picks the files to send from the send folder:
// serial part + "_SND_" + center part + ".CII" (letter "C") or + "([0-9]{4}).XML" (letter
// "X"). The center part stands for itself; in the tail "." matches any character.
std::string SendFilePattern(std::int64_t serial, std::string_view center_code, std::string_view letter);

class MailTransport {
public:
    MailTransport(const WorkArea& work, ProgressView& progress, MessageBoxes& messages, const Clock& clock);
    ~MailTransport();

    // Fills request.Result with "0000" or "9999" and returns 0 or 9.
    int RunMailTransfer(MailRequest& request);

    // 0 when center code and address are set, the direction is "R" or "S" and the
    // letter is "C" or "X" (half-width capitals only); 99 otherwise.
    static int CheckMailRequest(const MailRequest& request);

    void ReadMailSettings();
    int ReceiveByMail();  // 0, or 99 after an error
    int SendByMail();     // 0, or 99 after an error
    int MailLogon();
    int MailLogoff();
    int AttachSendFile();
    int SendMail();

    // After a receive: whether another mail of the partner waits (its job stores it, or
    // records why it cannot).
    bool more_mail_waiting() const { return more_waiting_; }
    // The ids of partner mails a job of this run found without a storable attachment: later
    // jobs of the run pass them over; the transport adds the one it finds.
    void PassOver(std::vector<std::string>& reported) { reported_ = &reported; }

    const MailSettings& settings() const { return settings_; }
    const std::vector<std::string>& send_files() const { return send_files_; }
    std::size_t send_file_count() const { return send_files_.size(); }

private:
    void ShowError(const MailError& error);
    void LogLine(int code, const std::string& text, bool warning);
    // Which fetched mails are the partner's: the sender rule, AuthServId included. Others lose
    // their sender; one that names the partner but fails the rule is logged.
    void ApplySenderRule();
    // Stores the mail's attachment as the job's file and marks the mail read; a mail without
    // attachment or with a damaged one comes back in saved and stays unread.
    MailError StoreMail(std::size_t index, const std::string& destination, SavedAttachment& saved);
    // Marks the mails of earlier receipts of the center read; their indexes are never taken again.
    std::vector<std::size_t> SettleReceipts();
    std::int64_t Serial() const;

    const WorkArea& work_;
    ProgressView& progress_;
    MessageBoxes& messages_;
    const Clock& clock_;

    MailRequest* request_ = nullptr;
    MailSettings settings_;
    std::vector<std::string> send_files_;
    std::string failure_code_;  // the first partner mail that was not stored: "5101" or "5102"
    std::unique_ptr<MailSession> session_;
    std::vector<FetchedMail> mails_;
    bool more_waiting_ = false;
    std::vector<std::string>* reported_ = nullptr;
    OutgoingMail outgoing_;
};

// One run with a transport made for it.
int RunMailTransfer(MailRequest& request, const WorkArea& work, ProgressView& progress, MessageBoxes& messages,
                    const Clock& clock);

}  // namespace edi
