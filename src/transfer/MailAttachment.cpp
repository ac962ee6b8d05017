#include "transfer/MailAttachment.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "transfer/MailHeader.h"

namespace edi {

namespace {

// A part header longer than this is no header a mail program writes.
constexpr std::size_t kMaxPartHeader = 256 * 1024;
// Blanks allowed after a boundary on its line before the line cannot be one.
constexpr std::size_t kBoundaryLineSlack = 256;

std::string ByteText(unsigned char c) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text = "0x";
    text += kHex[c >> 4];
    text += kHex[c & 15];
    if (c >= 0x21 && c < 0x7f) text += std::string(" '") + static_cast<char>(c) + "'";
    return text;
}

int HexValue(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

class IdentityDecoder final : public TransferDecoder {
public:
    bool Feed(const char* data, std::size_t size, std::string& out) override {
        out.append(data, size);
        return true;
    }
    bool End(std::string&) override { return true; }
};

class Base64Decoder final : public TransferDecoder {
public:
    bool Feed(const char* data, std::size_t size, std::string& out) override {
        for (std::size_t i = 0; i < size; ++i, ++position_) {
            const auto c = static_cast<unsigned char>(data[i]);
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
            if (c == '=') {
                // Padding ends a group of which at least two characters carry data.
                if (count_ < 2 || finished_) return Fail("'=' at byte " + std::to_string(position_) + " out of place");
                ++padding_;
                if (++count_ == 4) Emit(out);
                continue;
            }
            const int value = Value(c);
            if (value < 0) {
                return Fail("character " + ByteText(c) + " at byte " + std::to_string(position_) + " is not base64");
            }
            if (padding_ > 0 || finished_) {
                return Fail("text after the padding at byte " + std::to_string(position_));
            }
            group_ = (group_ << 6) | static_cast<unsigned>(value);
            if (++count_ == 4) Emit(out);
        }
        return true;
    }
    bool End(std::string&) override {
        if (count_ != 0) return Fail("the text ends inside a group of four characters");
        return true;
    }

private:
    static int Value(unsigned char c) {
        if (c >= 'A' && c <= 'Z') return c - 'A';
        if (c >= 'a' && c <= 'z') return c - 'a' + 26;
        if (c >= '0' && c <= '9') return c - '0' + 52;
        if (c == '+') return 62;
        if (c == '/') return 63;
        return -1;
    }
    void Emit(std::string& out) {
        group_ <<= 6 * padding_;
        const char bytes[3] = {static_cast<char>(group_ >> 16), static_cast<char>(group_ >> 8),
                               static_cast<char>(group_)};
        out.append(bytes, static_cast<std::size_t>(3 - padding_));
        finished_ = padding_ > 0;
        group_ = 0;
        count_ = 0;
        padding_ = 0;
    }
    bool Fail(const std::string& reason) {
        error_ = "base64: " + reason;
        return false;
    }
    unsigned group_ = 0;
    int count_ = 0;
    int padding_ = 0;
    bool finished_ = false;  // a padded group ended the data
};

// Quoted-printable: "=" + two hex digits is a byte, "=" at the end of a line joins it to the
// next, blanks at the end of a line are dropped, a line end is CR LF.
class QuotedPrintableDecoder final : public TransferDecoder {
public:
    bool Feed(const char* data, std::size_t size, std::string& out) override {
        for (std::size_t i = 0; i < size; ++i, ++position_) {
            const auto c = static_cast<unsigned char>(data[i]);
            if (cr_) {
                cr_ = false;
                if (c == '\n') {
                    LineEnd(out);
                    continue;
                }
                if (!Byte('\r', out)) return false;
            }
            switch (escape_) {
                case Escape::kNone:
                    break;
                case Escape::kEquals:
                    if (HexValue(c) >= 0) {
                        high_ = HexValue(c);
                        escape_ = Escape::kHigh;
                        continue;
                    }
                    if (c == ' ' || c == '\t') {
                        escape_ = Escape::kSoftBreak;
                        continue;
                    }
                    if (c == '\r' || c == '\n') {
                        escape_ = Escape::kSoftBreak;
                        break;
                    }
                    return Fail("'=' followed by " + ByteText(c) + " at byte " + std::to_string(position_));
                case Escape::kHigh:
                    if (HexValue(c) < 0) {
                        return Fail("'=' followed by a non-hex " + ByteText(c) + " at byte " +
                                    std::to_string(position_));
                    }
                    escape_ = Escape::kNone;
                    out.append(blanks_);
                    blanks_.clear();
                    out += static_cast<char>((high_ << 4) | HexValue(c));
                    continue;
                case Escape::kSoftBreak:
                    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') {
                        return Fail("'=' followed by blanks and " + ByteText(c) + " at byte " +
                                    std::to_string(position_));
                    }
                    break;
            }
            if (c == '\r') {
                cr_ = true;
            } else if (c == '\n') {
                LineEnd(out);
            } else if (escape_ == Escape::kSoftBreak) {
                // blanks between "=" and the line end
            } else if (c == '=') {
                escape_ = Escape::kEquals;
            } else if (c == ' ' || c == '\t') {
                blanks_ += static_cast<char>(c);
            } else if (!Byte(static_cast<char>(c), out)) {
                return false;
            }
        }
        return true;
    }
    bool End(std::string& out) override {
        if (escape_ == Escape::kEquals || escape_ == Escape::kHigh) return Fail("the text ends inside an '=' escape");
        if (cr_ && !Byte('\r', out)) return false;
        // Blanks at the very end are a line's trailing blanks: dropped.
        return true;
    }

private:
    enum class Escape { kNone, kEquals, kHigh, kSoftBreak };
    bool Byte(char c, std::string& out) {
        out.append(blanks_);
        blanks_.clear();
        out += c;
        return true;
    }
    void LineEnd(std::string& out) {
        blanks_.clear();
        if (escape_ != Escape::kSoftBreak) out += "\r\n";
        escape_ = Escape::kNone;
    }
    bool Fail(const std::string& reason) {
        error_ = "quoted-printable: " + reason;
        return false;
    }
    Escape escape_ = Escape::kNone;
    int high_ = 0;
    bool cr_ = false;
    std::string blanks_;
};

}  // namespace

std::unique_ptr<TransferDecoder> MakeTransferDecoder(const std::string& encoding) {
    if (encoding == "base64") return std::make_unique<Base64Decoder>();
    if (encoding == "quoted-printable") return std::make_unique<QuotedPrintableDecoder>();
    if (encoding == "7bit" || encoding == "8bit" || encoding == "binary") return std::make_unique<IdentityDecoder>();
    return nullptr;
}

struct AttachmentExtractor::State {
    explicit State(AttachmentSink& s) : sink(s) {}

    AttachmentSink& sink;
    bool header_mode = true;
    std::string header;                   // the current part's header so far
    std::size_t header_line = 0;          // length of the header line being read, without its end
    std::vector<std::string> boundaries;  // open multiparts, innermost last
    std::size_t part_number = 0;

    bool in_leaf = false;     // content belongs to a part (not a preamble or epilogue)
    bool chosen = false;      // content goes to the decoder
    std::string line_start;   // the start of a line, held until it is known not to be a boundary
    bool mid_line = false;    // past what could be a boundary on this line
    bool held_cr = false;     // mid-line: a CR that may start the line end
    std::string pending_eol;  // the last line end: content only when no boundary follows

    int strength = 0;  // of the part taken: 2 attachment, 1 a named non-text part, 0 none yet
    bool damaged = false;
    bool write_failed = false;
    bool complete = false;
    std::unique_ptr<TransferDecoder> decoder;
    std::string decoded;  // reused buffer
    std::string detail;
    std::size_t longest_boundary = 0;

    bool Failed() const { return write_failed || (damaged && strength == 2); }

    void Content(const char* data, std::size_t size) {
        if (!chosen || size == 0) return;
        decoded.clear();
        if (!decoder->Feed(data, size, decoded)) {
            Damage(decoder->error());
            return;
        }
        Emit();
    }
    void Emit() {
        if (!decoded.empty() && !sink.Write(decoded.data(), decoded.size())) {
            write_failed = true;
            chosen = false;
        }
    }
    void Damage(const std::string& reason) {
        damaged = true;
        chosen = false;
        detail += ": " + reason;
    }

    void EndLeaf() {
        if (chosen) {
            decoded.clear();
            if (decoder->End(decoded)) {
                Emit();
                if (!write_failed) complete = true;
            } else {
                Damage(decoder->error());
            }
        }
        chosen = false;
        in_leaf = false;
    }

    void StartContent() {
        header_mode = false;
        line_start.clear();
        mid_line = false;
        held_cr = false;
        pending_eol.clear();
    }

    void EndOfHeader() {
        const PartInfo info = DescribePart(ParseHeaderBlock(header));
        header.clear();
        ++part_number;
        StartContent();
        if (info.media_type.rfind("multipart/", 0) == 0 && !info.boundary.empty()) {
            boundaries.push_back(info.boundary);
            if (info.boundary.size() > longest_boundary) longest_boundary = info.boundary.size();
            in_leaf = false;
            return;
        }
        in_leaf = true;
        const bool text = info.media_type.rfind("text/", 0) == 0;
        const int counts = info.disposition == "attachment" ? 2 : (!text && info.has_file_name ? 1 : 0);
        if (counts <= strength) return;
        // This part counts more than the one taken so far: start again with it.
        if (strength > 0 && !sink.Restart()) {
            write_failed = true;
            return;
        }
        strength = counts;
        damaged = false;
        complete = false;
        detail = "part " + std::to_string(part_number) + " (" + info.media_type + ", " + info.encoding +
                 (counts == 2 ? ", attachment" : ", named") + ")";
        decoder = MakeTransferDecoder(info.encoding);
        chosen = true;
        if (!decoder) Damage("unknown transfer encoding " + info.encoding);
    }

    // "--boundary" or "--boundary--" of an open multipart, blanks after it allowed.
    bool IsBoundary(std::string_view line, std::size_t& level, bool& closing) const {
        if (line.size() < 2 || line[0] != '-' || line[1] != '-') return false;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
        for (std::size_t k = boundaries.size(); k-- > 0;) {
            const std::string& b = boundaries[k];
            if (line.compare(2, b.size(), b) != 0) continue;
            std::string_view rest = line.substr(2 + b.size());
            closing = rest.rfind("--", 0) == 0;
            if (closing) rest.remove_prefix(2);
            if (rest.find_first_not_of(" \t") != std::string_view::npos) continue;
            level = k;
            return true;
        }
        return false;
    }

    void Boundary(std::size_t level, bool closing) {
        if (in_leaf) EndLeaf();
        boundaries.resize(level + 1);
        if (closing) {
            boundaries.pop_back();
            StartContent();
            in_leaf = false;  // the epilogue
        } else {
            header_mode = true;
            header.clear();
            header_line = 0;
        }
    }

    // A whole line (with its end) at the start of which a boundary may stand.
    void Line(std::string_view line) {
        std::size_t level = 0;
        bool closing = false;
        if (IsBoundary(line, level, closing)) {
            pending_eol.clear();
            Boundary(level, closing);
            return;
        }
        std::size_t eol = 0;
        if (!line.empty() && line.back() == '\n') eol = (line.size() >= 2 && line[line.size() - 2] == '\r') ? 2 : 1;
        Content(pending_eol.data(), pending_eol.size());
        Content(line.data(), line.size() - eol);
        pending_eol.assign(line.substr(line.size() - eol));
    }

    // Bytes of the body: held at a line start while they could make a boundary line.
    std::size_t Body(const char* data, std::size_t size) {
        if (boundaries.empty()) {
            // A single-part mail, or the epilogue of the outermost multipart: no boundary comes.
            Content(pending_eol.data(), pending_eol.size());
            pending_eol.clear();
            Content(data, size);
            return size;
        }
        if (mid_line) {
            const char* nl = static_cast<const char*>(std::memchr(data, '\n', size));
            const std::size_t upto = nl ? static_cast<std::size_t>(nl - data) : size;
            if (held_cr && upto > 0) Content("\r", 1);
            if (upto == 0) {
                // the line end, CR LF when a CR was held
            } else {
                held_cr = data[upto - 1] == '\r';
                Content(data, upto - (held_cr ? 1 : 0));
            }
            if (!nl) return size;
            pending_eol = held_cr ? "\r\n" : "\n";
            held_cr = false;
            mid_line = false;
            return upto + 1;
        }
        const char* nl = static_cast<const char*>(std::memchr(data, '\n', size));
        const std::size_t take = nl ? static_cast<std::size_t>(nl - data) + 1 : size;
        line_start.append(data, take);
        if (nl) {
            Line(line_start);
            line_start.clear();
        } else if (line_start.size() > longest_boundary + 4 + kBoundaryLineSlack) {
            // Too long for a boundary line: the rest of it is content.
            Content(pending_eol.data(), pending_eol.size());
            pending_eol.clear();
            held_cr = line_start.back() == '\r';
            Content(line_start.data(), line_start.size() - (held_cr ? 1 : 0));
            line_start.clear();
            mid_line = true;
        }
        return take;
    }

    // Header bytes up to the empty line that ends the header.
    std::size_t Header(const char* data, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i) {
            const char c = data[i];
            header += c;
            if (c == '\n') {
                if (header_line == 0) {
                    EndOfHeader();
                    return i + 1;
                }
                header_line = 0;
            } else if (c != '\r') {
                ++header_line;
            }
        }
        if (header.size() > kMaxPartHeader) {
            // No mail program writes such a header: the mail is taken as damaged.
            sink.Restart();
            strength = 2;
            chosen = false;
            complete = false;
            detail = "part " + std::to_string(part_number + 1);
            Damage("its header is longer than " + std::to_string(kMaxPartHeader) + " bytes");
            header.clear();
        }
        return size;
    }
};

AttachmentExtractor::AttachmentExtractor(AttachmentSink& sink) : state_(std::make_unique<State>(sink)) {}

AttachmentExtractor::~AttachmentExtractor() = default;

bool AttachmentExtractor::Write(const char* data, std::size_t size) {
    State& s = *state_;
    std::size_t done = 0;
    while (done < size && !s.write_failed) {
        done += s.header_mode ? s.Header(data + done, size - done) : s.Body(data + done, size - done);
    }
    return !s.Failed();
}

AttachmentStatus AttachmentExtractor::Finish() {
    State& s = *state_;
    if (!s.header_mode) {
        if (!s.boundaries.empty() && s.chosen) {
            s.Damage("the mail ends before the part's closing boundary");
        } else {
            if (s.held_cr) s.Content("\r", 1);
            s.Content(s.pending_eol.data(), s.pending_eol.size());
            s.Content(s.line_start.data(), s.line_start.size());
            if (s.in_leaf) s.EndLeaf();
        }
    }
    if (s.write_failed) return AttachmentStatus::kWriteFailed;
    if (s.strength == 0) {
        s.detail = "no part is an attachment (Content-Disposition: attachment, or a named part that is not text)";
        return AttachmentStatus::kNone;
    }
    if (s.damaged || !s.complete) {
        if (!s.damaged) s.detail += ": the part is cut off";
        return AttachmentStatus::kDamaged;
    }
    return AttachmentStatus::kComplete;
}

const std::string& AttachmentExtractor::detail() const { return state_->detail; }

AttachmentFile::AttachmentFile(std::filesystem::path destination) : destination_(std::move(destination)) {
    static std::atomic<unsigned> counter{0};
    std::string name = ".";
    name += destination_.filename().string();
    name += ".part" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    temp_ = destination_.parent_path() / name;
}

AttachmentFile::~AttachmentFile() { Discard(); }

bool AttachmentFile::Open() {
    if (file_ != nullptr) return true;
    file_ = std::fopen(temp_.c_str(), "wbx");
    if (file_ == nullptr) error_ = temp_.string() + ": " + std::strerror(errno);
    return file_ != nullptr;
}

bool AttachmentFile::Write(const char* data, std::size_t size) {
    if (!Open()) return false;
    if (std::fwrite(data, 1, size, file_) == size) return true;
    error_ = temp_.string() + ": " + std::strerror(errno);
    return false;
}

bool AttachmentFile::Restart() {
    Discard();
    return Open();
}

bool AttachmentFile::Commit() {
    if (!Open()) return false;
    const bool written = std::fflush(file_) == 0 && ::fsync(::fileno(file_)) == 0;
    const int saved = errno;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!written || !closed) {
        error_ = temp_.string() + ": " + std::strerror(written ? errno : saved);
        Discard();
        return false;
    }
    std::error_code ec;
    std::filesystem::rename(temp_, destination_, ec);
    if (ec) {
        error_ = destination_.string() + ": " + ec.message();
        Discard();
        return false;
    }
    // The rename itself reaches the disk with the folder.
    if (const int folder = ::open(destination_.parent_path().empty() ? "." : destination_.parent_path().c_str(),
                                  O_RDONLY | O_DIRECTORY);
        folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    temp_.clear();
    return true;
}

void AttachmentFile::Discard() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    if (temp_.empty()) return;
    std::error_code ignored;
    std::filesystem::remove(temp_, ignored);
}

}  // namespace edi
