#include "http/request.h"

#include "text/text.h"
#include "text/url.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// True when `line` starts with `name` and a colon, letters compared without regard to case;
// `*value` is then the rest with its surrounding blanks removed.
bool HeaderValue(std::string_view line, const char* name, std::string_view* value) {
  std::size_t i = 0;
  for (; name[i] != '\0'; ++i) {
    if (i >= line.size()) return false;
    char c = line[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != name[i]) return false;
  }
  if (i >= line.size() || line[i] != ':') return false;
  std::size_t start = i + 1;
  std::size_t end = line.size();
  while (start < end && IsBlank(line[start])) ++start;
  while (end > start && IsBlank(line[end - 1])) --end;
  *value = line.substr(start, end - start);
  return true;
}

// A Content-Length value: 1 to 15 decimal digits, nothing else.
bool ParseLength(std::string_view text, std::uint64_t* length) {
  if (text.empty() || text.size() > 15) return false;
  std::uint64_t n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + static_cast<std::uint64_t>(c - '0');
  }
  *length = n;
  return true;
}

}  // namespace

bool ParseRequest(std::string_view text, HttpRequest* request) {
  const std::size_t space = text.find(' ');
  if (space == std::string_view::npos) {
    DebugLog("Bad request..\n");
    return false;
  }
  const std::string_view method = text.substr(0, space);
  if (method != "GET" && method != "HEAD" && method != "POST") {
    DebugLog("Only GET is impl (received %.*s..)\n", static_cast<int>(method.size()), method.data());
    return false;
  }
  request->method = std::string(method);
  request->isHead = method == "HEAD";

  const std::size_t start = space + 1;
  std::size_t end = text.find_first_of(" \t\r\n", start);
  if (end == std::string_view::npos) end = text.size();
  const std::size_t query = text.find('?', start);
  if (query != std::string_view::npos && query < end) end = query;
  const std::size_t slash = end > start && text[start] == '/' ? 1 : 0;
  request->rawPath.assign(text, start + slash, end - start - slash);
  // Decoded after the query is cut, so "%3F" is a "?" inside the name.
  std::string path = PercentDecode(text.substr(start, end - start));
  if (!path.empty() && path[0] == '/') path.erase(0, 1);
  request->path = std::move(path);

  request->range.clear();
  request->ifRange = false;
  request->acceptEncoding.clear();
  request->hasHost = false;
  request->host.clear();
  request->hasOrigin = false;
  request->origin.clear();
  request->secFetchSite.clear();
  request->contentLength = 0;
  request->badLength = false;
  request->chunked = false;
  bool hasLength = false;
  for (std::size_t line = text.find("\r\n"); line != std::string_view::npos;) {
    const std::size_t from = line + 2;
    const std::size_t next = text.find("\r\n", from);
    const std::string_view header = text.substr(from, (next == std::string_view::npos ? text.size() : next) - from);
    std::string_view value;
    if (HeaderValue(header, "range", &value)) {
      if (!request->range.empty()) request->range += ", ";
      request->range += value;
    } else if (HeaderValue(header, "if-range", &value)) {
      request->ifRange = true;
    } else if (HeaderValue(header, "accept-encoding", &value)) {
      if (!request->acceptEncoding.empty()) request->acceptEncoding += ", ";
      request->acceptEncoding += value;
    } else if (HeaderValue(header, "host", &value)) {
      request->host = request->hasHost ? std::string() : std::string(value);
      request->hasHost = true;
    } else if (HeaderValue(header, "origin", &value)) {
      request->origin = request->hasOrigin ? std::string() : std::string(value);
      request->hasOrigin = true;
    } else if (HeaderValue(header, "sec-fetch-site", &value)) {
      request->secFetchSite = value;
    } else if (HeaderValue(header, "content-length", &value)) {
      std::uint64_t length = 0;
      if (!ParseLength(value, &length) || (hasLength && length != request->contentLength)) request->badLength = true;
      request->contentLength = length;
      hasLength = true;
    } else if (HeaderValue(header, "transfer-encoding", &value)) {
      request->chunked = true;
    }
    line = next;
  }
  return true;
}

bool IsOwnHost(const HttpRequest& request, std::uint16_t port) {
  if (!request.hasHost) return true;
  // A name without a port stands for port 80, where browsers leave the port out.
  const std::string& host = request.host;
  const std::size_t colon = host.find(':');
  const std::string given = colon == std::string::npos ? "80" : host.substr(colon + 1);
  if (port == 0 || given != std::to_string(port)) return false;
  std::string name = host.substr(0, colon);
  for (char& c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return name == "127.0.0.1" || name == "localhost";
}

HttpAnswer StatusAnswer(const char* statusText) {
  HttpAnswer answer;
  answer.head.reserve(std::char_traits<char>::length(statusText) + kAnswerHeaders.size() + 13);
  answer.head += "HTTP/1.1 ";
  answer.head += statusText;
  answer.head += "\r\n";
  answer.head += kAnswerHeaders;
  answer.head += "\r\n";
  return answer;
}
