#include "content/accept_encoding.h"

namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool SameLetters(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lower[i]) return false;
  }
  return true;
}

// HTTP's qvalue: "0" with up to three decimals, or "1" with up to three zeros.
bool IsQValue(std::string_view text) {
  if (text.empty() || (text[0] != '0' && text[0] != '1')) return false;
  if (text.size() == 1) return true;
  if (text[1] != '.' || text.size() > 5) return false;
  for (const char c : text.substr(2)) {
    if (c < '0' || c > '9' || (text[0] == '1' && c != '0')) return false;
  }
  return true;
}

// Whether one element's parameters (after its first ';') refuse the coding: a weight
// "q=QVALUE" of zero, or anything that is not a well-formed weight.
bool Refused(std::string_view parameters) {
  const std::string_view parameter = Trim(parameters);
  if (parameter.size() < 2 || (parameter[0] != 'q' && parameter[0] != 'Q') || parameter[1] != '=') return true;
  const std::string_view value = parameter.substr(2);
  if (!IsQValue(value)) return true;
  for (const char c : value) {
    if (c != '0' && c != '.') return false;
  }
  return true;
}

}  // namespace

bool AcceptsDeflate(std::string_view acceptEncoding) {
  int deflate = -1;  // -1 not listed, 0 refused, 1 accepted
  int any = -1;
  while (!acceptEncoding.empty()) {
    const std::size_t comma = acceptEncoding.find(',');
    const std::string_view element = acceptEncoding.substr(0, comma);
    acceptEncoding = comma == std::string_view::npos ? std::string_view() : acceptEncoding.substr(comma + 1);
    const std::size_t semicolon = element.find(';');
    const std::string_view coding = Trim(element.substr(0, semicolon));
    const int accepted = semicolon != std::string_view::npos && Refused(element.substr(semicolon + 1)) ? 0 : 1;
    if (SameLetters(coding, "deflate")) deflate = accepted;
    if (coding == "*") any = accepted;
  }
  return deflate == 1 || (deflate == -1 && any == 1);
}
