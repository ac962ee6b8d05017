// The partner's attachment, taken from a raw mail as it streams in: which part counts,
// its transfer encoding undone strictly, its bytes written to a temporary name beside the
// destination and renamed over it only once complete. Memory does not grow with the mail.
//
// The part that counts is the first with Content-Disposition "attachment"; without one, the
// first part that is not text (nor multipart) and has a file name. Inline text parts never
// count. A part whose base64 or quoted-printable text is damaged, whose encoding is unknown
// or that the mail cuts off is not stored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace edi {

// Where decoded bytes go. Restart drops everything written: a part that counts more came.
class AttachmentSink {
public:
    virtual ~AttachmentSink() = default;
    virtual bool Write(const char* data, std::size_t size) = 0;
    virtual bool Restart() = 0;
};

enum class AttachmentStatus {
    kComplete,     // the part was found and decoded whole
    kNone,         // no part counts as the attachment
    kDamaged,      // the part does not decode, has an unknown encoding or is cut off
    kWriteFailed,  // the sink refused bytes
};

// Decoders of the transfer encodings: Feed decoded bytes into out; false once the text is
// damaged, with the reason in error().
class TransferDecoder {
public:
    virtual ~TransferDecoder() = default;
    virtual bool Feed(const char* data, std::size_t size, std::string& out) = 0;
    virtual bool End(std::string& out) = 0;
    const std::string& error() const { return error_; }

protected:
    std::string error_;
    std::uint64_t position_ = 0;  // bytes of encoded text taken so far
};
// "base64", "quoted-printable", "7bit", "8bit", "binary"; nothing for another encoding.
std::unique_ptr<TransferDecoder> MakeTransferDecoder(const std::string& encoding);

class AttachmentExtractor {
public:
    explicit AttachmentExtractor(AttachmentSink& sink);
    ~AttachmentExtractor();
    AttachmentExtractor(const AttachmentExtractor&) = delete;
    AttachmentExtractor& operator=(const AttachmentExtractor&) = delete;

    // The raw mail, in pieces of any size. Returns false once the outcome is settled as a
    // failure (the rest need not be sent).
    bool Write(const char* data, std::size_t size);
    // After the last piece.
    AttachmentStatus Finish();
    // Which part was taken, or why it was not stored.
    const std::string& detail() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// A temporary file beside the destination (".<name>.part<pid>-<n>"); removed unless committed.
class AttachmentFile final : public AttachmentSink {
public:
    explicit AttachmentFile(std::filesystem::path destination);
    ~AttachmentFile() override;
    AttachmentFile(const AttachmentFile&) = delete;
    AttachmentFile& operator=(const AttachmentFile&) = delete;

    bool Write(const char* data, std::size_t size) override;
    bool Restart() override;
    // Flushes the file to the disk and renames it over the destination.
    bool Commit();
    const std::string& error() const { return error_; }

private:
    bool Open();
    void Discard();
    std::filesystem::path destination_;
    std::filesystem::path temp_;
    std::FILE* file_ = nullptr;
    std::string error_;
};

}  // namespace edi
