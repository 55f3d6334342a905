#include "content/course_root.h"

#include <algorithm>

#include "amzip/entry.h"
#include "text/text.h"
#include "text/url.h"

namespace {

// An entry's name as UTF-8 with "/" separators.
std::string NameOf(const amzip::ZipEntry& entry) {
  std::string name = WideToUtf8(entry.name);
  std::replace(name.begin(), name.end(), '\\', '/');
  return name;
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

bool IsPage(const std::string& name) {
  const std::string lower = Lower(name);
  const auto ends = [&](const std::string& suffix) {
    return lower.size() > suffix.size() && lower.compare(lower.size() - suffix.size(), suffix.size(), suffix) == 0;
  };
  return ends(".html") || ends(".htm");
}

// Text as it may stand in HTML.
std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace

std::string CourseRoot(const amzip::ZipArchive& archive) {
  std::string root;
  bool any = false;
  for (const amzip::ZipEntry* entry : archive.Entries()) {
    const std::string name = NameOf(*entry);
    if (name == ".start" || name.rfind("__MACOSX/", 0) == 0) continue;
    const std::size_t slash = name.find('/');
    if (slash == std::string::npos || slash == 0) return std::string();  // a file at the top
    const std::string top = name.substr(0, slash + 1);
    if (any && top != root) return std::string();
    root = top;
    any = true;
  }
  return root;
}

std::vector<std::string> TopLevelPages(const amzip::ZipArchive& archive, const std::string& root) {
  std::vector<std::string> pages;
  for (const amzip::ZipEntry* entry : archive.Entries()) {
    const std::string name = NameOf(*entry);
    if (name.compare(0, root.size(), root) != 0) continue;
    const std::string rest = name.substr(root.size());
    if (!rest.empty() && rest.find('/') == std::string::npos && IsPage(rest)) pages.push_back(rest);
  }
  std::sort(pages.begin(), pages.end());
  pages.erase(std::unique(pages.begin(), pages.end()), pages.end());
  return pages;
}

std::string StartPageOf(const amzip::ZipArchive& archive, const std::string& root) {
  const std::vector<std::string> pages = TopLevelPages(archive, root);
  for (const char* wanted : {"index.html", "index.htm", "default.html", "default.htm"}) {
    if (std::find(pages.begin(), pages.end(), wanted) != pages.end()) return wanted;
  }
  return pages.size() == 1 ? pages.front() : std::string();
}

HttpAnswer PageListAnswer(const std::vector<std::string>& pages, bool isHead) {
  std::string body =
      "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Pages of this course</title></head><body>\n"
      "<h1>Pages of this course</h1>\n";
  if (pages.empty()) {
    body += "<p>This course has no page at its top level to start from.</p>\n";
  } else {
    body += "<p>This course names no start page. Its pages:</p>\n<ul>\n";
    for (const std::string& page : pages) {
      const std::string link = PercentEncode(page, [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_';
      });
      body += "<li><a href=\"" + Escape(link) + "\">" + Escape(page) + "</a></li>\n";
    }
    body += "</ul>\n";
  }
  body += "</body></html>\n";
  HttpAnswer answer;
  answer.head = "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                std::to_string(body.size()) + "\r\nCache-Control: no-cache\r\n\r\n";
  if (!isHead) answer.head += body;
  return answer;
}
