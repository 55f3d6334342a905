// DevToolsActivePort and /json/list; see devtools.h.
#include "launcher/browsers/devtools.h"

#include <charconv>

#include <nlohmann/json.hpp>

std::uint16_t DevToolsPortFromFile(const std::string& text) {
  const char* const begin = text.data();
  const char* const end = begin + text.size();
  unsigned port = 0;
  const auto [next, error] = std::from_chars(begin, end, port);
  if (error != std::errc() || next == begin || port == 0 || port > 65535) return 0;
  if (next != end && *next != '\n' && *next != '\r') return 0;
  return static_cast<std::uint16_t>(port);
}

DevToolsPages ReadDevToolsPages(const std::string& json, const std::string& urlPrefix) {
  DevToolsPages result;
  // No exceptions: a parse failure is a discarded value. Depth is bounded by the parser's own
  // recursion over what a 16 MiB answer can hold.
  const nlohmann::json list = nlohmann::json::parse(json, nullptr, false);
  if (list.is_discarded() || !list.is_array()) return result;
  result.readable = true;
  for (const nlohmann::json& entry : list) {
    if (!entry.is_object()) continue;
    const auto type = entry.find("type");
    if (type == entry.end() || !type->is_string() || type->get_ref<const std::string&>() != "page") {
      continue;
    }
    ++result.pages;
    const auto url = entry.find("url");
    if (url == entry.end() || !url->is_string()) continue;
    const std::string& text = url->get_ref<const std::string&>();
    if (text.compare(0, urlPrefix.size(), urlPrefix) == 0 && text.size() >= urlPrefix.size()) {
      ++result.matching;
    }
  }
  return result;
}
