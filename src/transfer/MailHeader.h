// Reading a mail's header: fields unfolded, structured values cut into words with
// comments dropped, and the MIME fields that say what a part holds.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace edi {

struct HeaderField {
    std::string name;   // as written
    std::string value;  // unfolded: line breaks inside the field removed, blanks kept
};

// The fields of a header block (the text before the first empty line; a block without one
// is read to its end). Lines end with CR LF or LF; a line that is no field and no
// continuation is skipped.
std::vector<HeaderField> ParseHeaderBlock(std::string_view block);

// Values of every field with this name (letter case ignored), in order.
std::vector<std::string> FieldValues(const std::vector<HeaderField>& header, std::string_view name);

// One word of a structured field value.
struct HeaderWord {
    enum Kind { kAtom, kQuoted, kSpecial, kLiteral } kind = kAtom;
    std::string text;  // a quoted string or [literal] without its delimiters and escapes
};

// Cuts a structured value into words: comments (nested, with escapes) are dropped, blanks
// separate words, each character of `specials` is a word of its own. Nothing when a quoted
// string, comment or literal is not closed.
std::optional<std::vector<HeaderWord>> SplitWords(std::string_view value, std::string_view specials);

std::string LowerAscii(std::string_view text);

// What the MIME fields of a part say.
struct PartInfo {
    std::string media_type = "text/plain";  // lower case, "type/subtype"
    std::string boundary;                   // for multipart
    std::string disposition;                // lower case: "attachment", "inline" or ""
    bool has_file_name = false;             // a filename or name parameter in any of its forms
    std::string encoding = "7bit";          // Content-Transfer-Encoding, lower case
};
PartInfo DescribePart(const std::vector<HeaderField>& header);

}  // namespace edi
