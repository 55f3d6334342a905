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

// The quality of one element's parameters ("; q=0.5"): 0 only for a q of zero.
bool Refused(std::string_view parameters) {
  while (!parameters.empty()) {
    const std::size_t semicolon = parameters.find(';');
    std::string_view parameter = Trim(parameters.substr(0, semicolon));
    parameters = semicolon == std::string_view::npos ? std::string_view() : parameters.substr(semicolon + 1);
    if (parameter.size() < 2 || (parameter[0] != 'q' && parameter[0] != 'Q')) continue;
    parameter = Trim(parameter.substr(1));
    if (parameter.empty() || parameter[0] != '=') continue;
    parameter = Trim(parameter.substr(1));
    // "0", "0." and "0.000" are zero; "1", "0.5" and "0.001" are not.
    if (parameter.empty() || parameter[0] != '0') return false;
    for (char c : parameter.substr(1)) {
      if (c != '.' && c != '0') return false;
    }
    return true;
  }
  return false;
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
