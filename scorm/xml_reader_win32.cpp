// The XML reader on XmlLite, the system's own pull parser. MinGW has no import library for
// xmllite.dll, so CreateXmlReader is looked up at run time; the document is handed to it as a
// memory stream. DTDs are refused (XmlLite's default), so nothing is fetched or expanded.
#include <windows.h>
#include <objbase.h>
#include <shlwapi.h>
#include <xmllite.h>

#include <string>

#include "scorm/xml_reader.h"
#include "text/text.h"

namespace {

using CreateXmlReaderFunction = HRESULT(WINAPI*)(REFIID, void**, IMalloc*);

// The reader's current name or value as UTF-8.
template <class Getter>
std::string Utf8Of(Getter get) {
  const wchar_t* text = nullptr;
  UINT length = 0;
  if (FAILED(get(&text, &length)) || text == nullptr) return std::string();
  return WideToUtf8(std::wstring(text, length));
}

template <class T>
struct Released {
  T* p = nullptr;
  ~Released() {
    if (p) p->Release();
  }
};

}  // namespace

bool ReadXml(std::string_view document, XmlEvents& events, std::string* error) {
  static const CreateXmlReaderFunction create = [] {
    HMODULE module = LoadLibraryW(L"xmllite.dll");
    const FARPROC address = module ? GetProcAddress(module, "CreateXmlReader") : nullptr;
    return reinterpret_cast<CreateXmlReaderFunction>(reinterpret_cast<void*>(address));
  }();
  if (create == nullptr) {
    *error = "xmllite.dll is missing";
    return false;
  }
  Released<IStream> stream{SHCreateMemStream(reinterpret_cast<const BYTE*>(document.data()), static_cast<UINT>(document.size()))};
  Released<IXmlReader> reader;
  if (stream.p == nullptr || FAILED(create(__uuidof(IXmlReader), reinterpret_cast<void**>(&reader.p), nullptr)) ||
      FAILED(reader.p->SetInput(stream.p))) {
    *error = "the XML reader could not be made";
    return false;
  }
  IXmlReader* r = reader.p;
  bool any = false;
  for (;;) {
    XmlNodeType type = XmlNodeType_None;
    const HRESULT result = r->Read(&type);
    if (result == S_FALSE) break;
    if (FAILED(result)) {
      UINT line = 0;
      r->GetLineNumber(&line);
      *error = "line " + std::to_string(line) + ": not well-formed (XmlLite error 0x" +
               FormatText("%08lx", static_cast<unsigned long>(result)) + ")";
      return false;
    }
    if (type == XmlNodeType_Element) {
      any = true;
      const std::string ns = Utf8Of([&](const wchar_t** t, UINT* n) { return r->GetNamespaceUri(t, n); });
      const std::string name = Utf8Of([&](const wchar_t** t, UINT* n) { return r->GetLocalName(t, n); });
      const bool empty = r->IsEmptyElement();
      std::vector<XmlAttribute> attributes;
      for (HRESULT at = r->MoveToFirstAttribute(); at == S_OK; at = r->MoveToNextAttribute()) {
        if (r->IsDefault()) continue;
        XmlAttribute attribute;
        attribute.ns = Utf8Of([&](const wchar_t** t, UINT* n) { return r->GetNamespaceUri(t, n); });
        if (attribute.ns == "http://www.w3.org/2000/xmlns/") continue;  // declarations, as expat leaves them out
        attribute.name = Utf8Of([&](const wchar_t** t, UINT* n) { return r->GetLocalName(t, n); });
        attribute.value = Utf8Of([&](const wchar_t** t, UINT* n) { return r->GetValue(t, n); });
        attributes.push_back(std::move(attribute));
      }
      r->MoveToElement();
      events.StartElement(ns, name, attributes);
      if (empty) events.EndElement(ns, name);
    } else if (type == XmlNodeType_EndElement) {
      const std::string ns = Utf8Of([&](const wchar_t** t, UINT* n) { return r->GetNamespaceUri(t, n); });
      const std::string name = Utf8Of([&](const wchar_t** t, UINT* n) { return r->GetLocalName(t, n); });
      events.EndElement(ns, name);
    } else if (type == XmlNodeType_Text || type == XmlNodeType_CDATA || type == XmlNodeType_Whitespace) {
      events.Text(Utf8Of([&](const wchar_t** t, UINT* n) { return r->GetValue(t, n); }));
    }
  }
  if (!any) {
    *error = "line 1: no element found";
    return false;
  }
  return true;
}
