// Code page 932 to and from UTF-16 with the high byte first, the form double-byte CII
// data takes when its character code is "U". Both append to a buffer the caller reuses.
#pragma once

#include "convert/codec/Codec.h"

namespace edi {

// An invalid or incomplete Shift-JIS sequence becomes U+FFFD for one byte. False only when
// the converter cannot be opened.
bool AppendCp932AsUtf16Be(ByteView sjis, Bytes& out);

// A code unit code page 932 cannot hold, a lone surrogate or an odd last byte becomes "?".
bool AppendUtf16BeAsCp932(ByteView utf16be, Bytes& out);

}  // namespace edi
