#include "convert/XmlSupport.h"

#include <libxml/encoding.h>
#include <libxml/parser.h>

#include <mutex>

namespace edi {

void EnsureXmlLibrary() {
    static std::once_flag once;
    std::call_once(once, [] {
        xmlInitParser();
        // The alias is looked up before any built-in or iconv converter of the name.
        xmlAddEncodingAlias("CP932", "SHIFT_JIS");
        xmlAddEncodingAlias("CP932", "Shift_JIS");
        xmlAddEncodingAlias("CP932", "SJIS");
    });
}

void XmlErrorCollector::Attach(xmlTextReaderPtr reader) {
    xmlTextReaderSetStructuredErrorHandler(reader, &XmlErrorCollector::OnError, this);
}

void XmlErrorCollector::OnError(void* self, xmlErrorPtr error) {
    auto* collector = static_cast<XmlErrorCollector*>(self);
    if (error == nullptr || !collector->first_.empty() || error->level < XML_ERR_ERROR) return;
    std::string message = error->message != nullptr ? error->message : "unknown error";
    while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
    collector->first_ = "line " + std::to_string(error->line) + ": " + message;
}

}  // namespace edi
