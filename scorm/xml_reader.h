// One XML document read as a stream of elements, through the platform's own parser: expat on
// POSIX (xml_reader_posix.cpp), XmlLite on Windows (xml_reader_win32.cpp). Names come with their
// namespace URI resolved, so callers match namespaces, never prefixes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct XmlAttribute {
  std::string ns;    // the namespace URI; "" for an attribute without a prefix
  std::string name;  // the local name
  std::string value;
};

class XmlEvents {
 public:
  virtual ~XmlEvents() = default;
  virtual void StartElement(const std::string& ns, const std::string& name, const std::vector<XmlAttribute>& attributes) = 0;
  virtual void EndElement(const std::string& ns, const std::string& name) = 0;
  // Character data (text and CDATA), possibly in several pieces.
  virtual void Text(std::string_view text) = 0;
};

// Reads `document` (UTF-8 or as its declaration says) whole, telling `events` what it finds.
// Accepts a well-formed document with namespaces; no external entity or DTD is loaded. False,
// with `*error` saying where and why ("line 3: mismatched tag"), when it is not well-formed;
// the events told so far stand.
bool ReadXml(std::string_view document, XmlEvents& events, std::string* error);

// The namespace URI of the xml: prefix (xml:base).
inline constexpr char kXmlNamespace[] = "http://www.w3.org/XML/1998/namespace";
