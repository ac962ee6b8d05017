#include "convert/XmlSupport.h"

#include <libxml/encoding.h>
#include <libxml/entities.h>
#include <libxml/hash.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace edi {
namespace {

// Refuses whatever the parser would fetch from outside the document.
xmlParserInputPtr RefuseExternal(const char*, const char*, xmlParserCtxtPtr) { return nullptr; }

// Entities inside entities are followed this deep at most.
constexpr int kMaxEntityDepth = 16;
// Text that entities add to one element, at most.
constexpr std::size_t kMaxEntityText = 1 << 20;

struct TextWalk {
    std::string& out;
    std::string& refused;
    std::size_t entity_text = 0;
};

bool AppendText(const xmlNode* first, TextWalk& walk, int depth);

bool AppendEntity(xmlDocPtr doc, const xmlChar* entity_name, TextWalk& walk, int depth) {
    const std::string name = entity_name != nullptr ? reinterpret_cast<const char*>(entity_name) : "";
    xmlEntityPtr entity = doc != nullptr ? xmlGetDocEntity(doc, entity_name) : nullptr;
    if (entity == nullptr) {
        walk.refused = "the entity &" + name + "; is not declared";
        return false;
    }
    if (entity->etype != XML_INTERNAL_GENERAL_ENTITY && entity->etype != XML_INTERNAL_PREDEFINED_ENTITY) {
        walk.refused = "the external entity &" + name + "; is never loaded";
        return false;
    }
    if (depth >= kMaxEntityDepth) {
        walk.refused = "the entity &" + name + "; is nested too deep";
        return false;
    }
    const std::size_t before = walk.out.size();
    if (entity->children != nullptr) {
        if (!AppendText(entity->children, walk, depth + 1)) return false;
    } else if (entity->content != nullptr) {
        walk.out += reinterpret_cast<const char*>(entity->content);
    }
    walk.entity_text += walk.out.size() - before;
    if (walk.entity_text > kMaxEntityText) {
        walk.refused = "entities expand to more than " + std::to_string(kMaxEntityText) + " bytes";
        return false;
    }
    return true;
}

bool AppendText(const xmlNode* first, TextWalk& walk, int depth) {
    for (const xmlNode* c = first; c != nullptr; c = c->next) {
        switch (c->type) {
            case XML_TEXT_NODE:
            case XML_CDATA_SECTION_NODE:
                if (c->content != nullptr) walk.out += reinterpret_cast<const char*>(c->content);
                break;
            case XML_ELEMENT_NODE:
                if (!AppendText(c->children, walk, depth)) return false;
                break;
            case XML_ENTITY_REF_NODE:
                if (!AppendEntity(c->doc, c->name, walk, depth)) return false;
                break;
            default:  // comments and processing instructions carry no text
                break;
        }
    }
    return true;
}

void FindExternal(void* payload, void* data, const xmlChar*) {
    const auto* entity = static_cast<const xmlEntity*>(payload);
    auto* found = static_cast<std::string*>(data);
    if (!found->empty() || entity == nullptr) return;
    if (entity->etype == XML_EXTERNAL_GENERAL_PARSED_ENTITY || entity->etype == XML_EXTERNAL_GENERAL_UNPARSED_ENTITY ||
        entity->etype == XML_EXTERNAL_PARAMETER_ENTITY) {
        *found = entity->name != nullptr ? reinterpret_cast<const char*>(entity->name) : "?";
        if (entity->etype == XML_EXTERNAL_PARAMETER_ENTITY) found->insert(0, "%");
    }
}

}  // namespace

void EnsureXmlLibrary() {
    static std::once_flag once;
    std::call_once(once, [] {
        xmlInitParser();
        // The alias is looked up before any built-in or iconv converter of the name.
        xmlAddEncodingAlias("CP932", "SHIFT_JIS");
        xmlAddEncodingAlias("CP932", "Shift_JIS");
        xmlAddEncodingAlias("CP932", "SJIS");
        xmlSetExternalEntityLoader(&RefuseExternal);
    });
}

XmlErrorCollector::XmlErrorCollector()
    : previous_structured_(xmlStructuredError),
      previous_structured_context_(xmlStructuredErrorContext),
      previous_generic_(xmlGenericError),
      previous_generic_context_(xmlGenericErrorContext) {
    xmlSetStructuredErrorFunc(this, &XmlErrorCollector::OnError);
    xmlSetGenericErrorFunc(this, &XmlErrorCollector::OnGenericError);
}

XmlErrorCollector::~XmlErrorCollector() {
    xmlSetStructuredErrorFunc(previous_structured_context_, previous_structured_);
    xmlSetGenericErrorFunc(previous_generic_context_, previous_generic_);
}

std::string XmlErrorCollector::First() const {
    if (first_.empty()) return generic_;
    // An error without a line (the encoding layer's) lies where the parser had to stop.
    int line = line_;
    if (line == 0 && parser_ != nullptr && parser_->input != nullptr) line = parser_->input->line;
    return line > 0 ? "line " + std::to_string(line) + ": " + first_ : first_;
}

void XmlErrorCollector::OnError(void* self, xmlErrorPtr error) {
    auto* collector = static_cast<XmlErrorCollector*>(self);
    if (error == nullptr || !collector->first_.empty() || error->level < XML_ERR_ERROR) return;
    std::string message = error->message != nullptr ? error->message : "unknown error";
    while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
    if (error->domain == XML_FROM_I18N) message.insert(0, "encoding error: ");
    collector->first_ = message;
    collector->line_ = error->line;
}

void XmlErrorCollector::OnGenericError(void* self, const char* format, ...) {
    auto* collector = static_cast<XmlErrorCollector*>(self);
    if (!collector->generic_.empty()) return;
    char buffer[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    std::string message = buffer;
    while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
    collector->generic_ = message.empty() ? "unknown error" : message;
}

bool AppendEntityText(xmlDocPtr doc, const xmlChar* name, std::string& out, std::size_t& entity_text,
                      std::string& refused) {
    TextWalk walk{out, refused, entity_text};
    const bool appended = AppendEntity(doc, name, walk, 0);
    entity_text = walk.entity_text;
    return appended;
}

std::string ExternalEntityOf(xmlDocPtr doc) {
    std::string found;
    if (doc == nullptr || doc->intSubset == nullptr) return found;
    for (void* table : {doc->intSubset->entities, doc->intSubset->pentities}) {
        if (table != nullptr) xmlHashScan(static_cast<xmlHashTablePtr>(table), &FindExternal, &found);
    }
    return found;
}

}  // namespace edi
