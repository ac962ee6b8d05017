// libxml2 as the converters use it: one-time set-up, owners for its handles and the error
// text of the last parse error.
#pragma once

#include <libxml/xmlreader.h>
#include <libxml/xmlwriter.h>

#include <memory>
#include <string>

namespace edi {

// Initialises the library once. "Shift_JIS" documents are read and written through code page
// 932, so that the characters the platform's Shift-JIS holds (NEC and IBM extensions, the wave
// dash as 0x8160) survive a round trip.
void EnsureXmlLibrary();

struct XmlReaderDeleter {
    void operator()(xmlTextReaderPtr r) const { xmlFreeTextReader(r); }
};
struct XmlWriterDeleter {
    void operator()(xmlTextWriterPtr w) const { xmlFreeTextWriter(w); }
};
struct XmlCharDeleter {
    void operator()(xmlChar* c) const { xmlFree(c); }
};
using XmlReaderPtr = std::unique_ptr<xmlTextReader, XmlReaderDeleter>;
using XmlWriterPtr = std::unique_ptr<xmlTextWriter, XmlWriterDeleter>;
using XmlCharPtr = std::unique_ptr<xmlChar, XmlCharDeleter>;

// Collects the first error a reader reports ("line 3: ...") instead of printing it.
class XmlErrorCollector {
public:
    void Attach(xmlTextReaderPtr reader);
    bool HasError() const { return !first_.empty(); }
    const std::string& First() const { return first_; }

private:
    static void OnError(void* self, xmlErrorPtr error);
    std::string first_;
};

}  // namespace edi
