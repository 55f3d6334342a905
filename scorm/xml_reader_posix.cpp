// The XML reader on expat, with namespace processing: expat joins a name's URI and local part
// with a separator byte, which is split off here.
#include <expat.h>

#include <algorithm>
#include <string>

#include "scorm/xml_reader.h"

namespace {

constexpr char kSeparator = '\x01';

struct Reader {
  XmlEvents& events;
};

void SplitName(const char* full, std::string* ns, std::string* name) {
  const std::string text(full);
  const std::size_t at = text.find(kSeparator);
  if (at == std::string::npos) {
    ns->clear();
    *name = text;
  } else {
    *ns = text.substr(0, at);
    *name = text.substr(at + 1);
  }
}

void XMLCALL OnStart(void* data, const XML_Char* name, const XML_Char** attributes) {
  std::string ns, local;
  SplitName(name, &ns, &local);
  std::vector<XmlAttribute> list;
  for (int i = 0; attributes[i] != nullptr; i += 2) {
    XmlAttribute attribute;
    SplitName(attributes[i], &attribute.ns, &attribute.name);
    attribute.value = attributes[i + 1];
    list.push_back(std::move(attribute));
  }
  static_cast<Reader*>(data)->events.StartElement(ns, local, list);
}

void XMLCALL OnEnd(void* data, const XML_Char* name) {
  std::string ns, local;
  SplitName(name, &ns, &local);
  static_cast<Reader*>(data)->events.EndElement(ns, local);
}

void XMLCALL OnText(void* data, const XML_Char* text, int length) {
  static_cast<Reader*>(data)->events.Text(std::string_view(text, static_cast<std::size_t>(length)));
}

}  // namespace

bool ReadXml(std::string_view document, XmlEvents& events, std::string* error) {
  XML_Parser parser = XML_ParserCreateNS(nullptr, kSeparator);
  if (parser == nullptr) {
    *error = "out of memory";
    return false;
  }
  Reader reader{events};
  XML_SetUserData(parser, &reader);
  XML_SetElementHandler(parser, OnStart, OnEnd);
  XML_SetCharacterDataHandler(parser, OnText);
  // Parsed in pieces: expat takes an int length.
  bool ok = true;
  constexpr std::size_t kPiece = 1 << 20;
  std::size_t at = 0;
  do {
    const std::size_t n = std::min(kPiece, document.size() - at);
    const bool last = at + n == document.size();
    if (XML_Parse(parser, document.data() + at, static_cast<int>(n), last) != XML_STATUS_OK) {
      *error = "line " + std::to_string(XML_GetCurrentLineNumber(parser)) + ": " +
               XML_ErrorString(XML_GetErrorCode(parser));
      ok = false;
      break;
    }
    at += n;
  } while (at < document.size());
  XML_ParserFree(parser);
  return ok;
}
