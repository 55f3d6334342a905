// Request parsing and routing: the request line decides between a status-only answer and the
// GET or HEAD handler.
#include "http/connection.h"
#include "launcher/session.h"
#include "text/text.h"
#include "text/url.h"

// Accepts: METHOD SP TARGET, where METHOD is exactly "GET" or "HEAD" (the text before the
// first space of the request) and TARGET runs to the next space, tab, CR or LF. The query (from
// a "?" on) is cut off, the rest percent-decoded, one leading "/" removed; the path must then
// begin with SessionPrefix byte for byte. The version and the header lines are ignored.
void ClientConnection::HandleRequest() {
  const std::string& text = request_;
  const std::size_t space = text.find(' ');
  if (space == std::string::npos) {
    DebugLog("Bad request..\n");
    SendStatus("501 Not Implemented");
    return;
  }
  const std::string method = text.substr(0, space);
  const bool isGet = method == "GET";
  if (!isGet && method != "HEAD") {
    DebugLog("Only GET is impl (received %s..)\n", method.c_str());
    SendStatus("501 Not Implemented");
    return;
  }

  const std::size_t start = space + 1;
  std::size_t end = text.find_first_of(" \t\r\n", start);
  if (end == std::string::npos) end = text.size();
  const std::size_t query = text.find('?', start);
  if (query != std::string::npos && query < end) end = query;
  // Decoded after the query is cut, so "%3F" is a "?" inside the name.
  std::string path = PercentDecode(text.substr(start, end - start));
  if (!path.empty() && path[0] == '/') path.erase(0, 1);

  if (path.size() < SessionPrefix.size() || path.compare(0, SessionPrefix.size(), SessionPrefix) != 0) {
    DebugLog("GET %s -> 404 - outside of scope\n\n", path.c_str());
    SendStatus("404 Not Found");
    return;
  }
  const std::wstring entryName = Utf8ToWide(path.substr(SessionPrefix.size()));
  server_.NoteScopedRequest();  // before the answer, which may close the connection at once
  if (isGet) {
    HandleGet(entryName);
  } else {
    HandleHead(entryName);
  }
}
