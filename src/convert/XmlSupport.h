// libxml2 as the converters use it: one-time set-up, owners for its handles, the routing of its
// errors into the converter's report, and the expansion of the entities met in an element's text.
#pragma once

#include <libxml/parser.h>
#include <libxml/xmlwriter.h>

#include <cstddef>
#include <memory>
#include <string>

namespace edi {

// Initialises the library once. "Shift_JIS" documents are read and written through code page
// 932, so that the characters the platform's Shift-JIS holds (NEC and IBM extensions, the wave
// dash as 0x8160) survive a round trip. Nothing outside the document is ever loaded: every
// external entity, DTD and network resource is refused by the entity loader.
void EnsureXmlLibrary();

struct XmlWriterDeleter {
    void operator()(xmlTextWriterPtr w) const { xmlFreeTextWriter(w); }
};
struct XmlCharDeleter {
    void operator()(xmlChar* c) const { xmlFree(c); }
};
using XmlWriterPtr = std::unique_ptr<xmlTextWriter, XmlWriterDeleter>;
using XmlCharPtr = std::unique_ptr<xmlChar, XmlCharDeleter>;

// While it lives, every error libxml2 reports on this thread comes here instead of stderr: the
// parser's, the encoding layer's (a byte sequence the document's encoding does not hold) and the
// I/O layer's. The first error is kept with its line; warnings are dropped.
class XmlErrorCollector {
public:
    XmlErrorCollector();
    ~XmlErrorCollector();
    XmlErrorCollector(const XmlErrorCollector&) = delete;
    XmlErrorCollector& operator=(const XmlErrorCollector&) = delete;

    // The parser whose line an error without one (an encoding error) is given.
    void Attach(xmlParserCtxtPtr parser) { parser_ = parser; }
    bool HasError() const { return !first_.empty() || !generic_.empty(); }
    // "line 5: encoding error: input conversion failed due to input error, bytes 0x82 0x20 ...";
    // without "line n: " when the error has no line and no parser is attached.
    std::string First() const;

private:
    static void OnError(void* self, xmlErrorPtr error);
    static void OnGenericError(void* self, const char* format, ...);
    xmlParserCtxtPtr parser_ = nullptr;
    std::string first_;  // the first structured error
    int line_ = 0;
    std::string generic_;  // the first plain message, used when no structured error came
    xmlStructuredErrorFunc previous_structured_;
    void* previous_structured_context_;
    xmlGenericErrorFunc previous_generic_;
    void* previous_generic_context_;
};

// The expansion of one internal entity of the document, as met in an element's text, appended to
// out: its text and CDATA sections and those of its elements, entities inside it expanded too.
// entity_text counts the bytes entities have added to that element so far. False, with the
// reason in `refused`, when the entity cannot be expanded without losing text (an external or
// undeclared one, entities nested too deep or expanding too far); `out` is then incomplete.
bool AppendEntityText(xmlDocPtr doc, const xmlChar* name, std::string& out, std::size_t& entity_text,
                      std::string& refused);

// The name of an external entity, general or parameter, that the document's DTD declares; empty
// when there is none. External entities are never loaded, so a document using one is refused.
std::string ExternalEntityOf(xmlDocPtr doc);

}  // namespace edi
