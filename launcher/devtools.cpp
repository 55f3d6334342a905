// DevToolsActivePort and /json/list: just enough JSON for an array of flat objects. The reader
// accepts RFC 8259 JSON (nesting up to 32 levels), decodes string escapes and ignores every
// member but "type" and "url".
#include "launcher/devtools.h"

#include <cstddef>
#include <vector>

std::uint16_t DevToolsPortFromFile(const std::string& text) {
  std::uint32_t port = 0;
  std::size_t i = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    port = port * 10 + static_cast<unsigned>(text[i] - '0');
    if (port > 65535) return 0;
  }
  if (i == 0 || (i < text.size() && text[i] != '\n' && text[i] != '\r')) return 0;
  return static_cast<std::uint16_t>(port);
}

namespace {

class JsonReader {
 public:
  explicit JsonReader(const std::string& text) : text_(text) {}

  // The top-level array: every object in it is reported as its "type" and "url".
  bool ReadPageList(const std::string& urlPrefix, bool& found) {
    found = false;
    SkipBlanks();
    if (!Consume('[')) return false;
    SkipBlanks();
    if (Consume(']')) return AtEnd();
    for (;;) {
      SkipBlanks();
      if (Peek() == '{') {
        std::string type, url;
        if (!ReadObject(0, &type, &url)) return false;
        if (type == "page" && url.compare(0, urlPrefix.size(), urlPrefix) == 0 &&
            url.size() >= urlPrefix.size()) {
          found = true;
        }
      } else if (!SkipValue(0)) {
        return false;
      }
      SkipBlanks();
      if (Consume(']')) return AtEnd();
      if (!Consume(',')) return false;
    }
  }

 private:
  static constexpr int kMaxDepth = 32;
  static constexpr char kNonAscii = static_cast<char>(0xFF);

  char Peek() const { return pos_ < text_.size() ? text_[pos_] : '\0'; }
  bool Consume(char c) {
    if (Peek() != c || pos_ >= text_.size()) return false;
    ++pos_;
    return true;
  }
  void SkipBlanks() {
    while (pos_ < text_.size() &&
           (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\n' || text_[pos_] == '\r')) {
      ++pos_;
    }
  }
  bool AtEnd() {
    SkipBlanks();
    return pos_ == text_.size();
  }

  // An object; when `type` and `url` are given, those members' string values are kept.
  bool ReadObject(int depth, std::string* type, std::string* url) {
    if (depth > kMaxDepth || !Consume('{')) return false;
    SkipBlanks();
    if (Consume('}')) return true;
    for (;;) {
      SkipBlanks();
      std::string key;
      if (!ReadString(key)) return false;
      SkipBlanks();
      if (!Consume(':')) return false;
      SkipBlanks();
      std::string* keep = nullptr;
      if (type != nullptr && key == "type") keep = type;
      if (url != nullptr && key == "url") keep = url;
      if (keep != nullptr && Peek() == '"') {
        if (!ReadString(*keep)) return false;
      } else if (!SkipValue(depth + 1)) {
        return false;
      }
      SkipBlanks();
      if (Consume('}')) return true;
      if (!Consume(',')) return false;
    }
  }

  bool SkipValue(int depth) {
    if (depth > kMaxDepth) return false;
    SkipBlanks();
    const char c = Peek();
    if (c == '{') return ReadObject(depth, nullptr, nullptr);
    if (c == '[') {
      ++pos_;
      SkipBlanks();
      if (Consume(']')) return true;
      for (;;) {
        if (!SkipValue(depth + 1)) return false;
        SkipBlanks();
        if (Consume(']')) return true;
        if (!Consume(',')) return false;
      }
    }
    if (c == '"') {
      std::string ignored;
      return ReadString(ignored);
    }
    for (const char* word : {"true", "false", "null"}) {
      if (text_.compare(pos_, std::char_traits<char>::length(word), word) == 0) {
        pos_ += std::char_traits<char>::length(word);
        return true;
      }
    }
    return SkipNumber();
  }

  bool SkipNumber() {
    const std::size_t start = pos_;
    Consume('-');
    if (!IsDigit(Peek())) return false;
    while (IsDigit(Peek())) ++pos_;
    if (Consume('.')) {
      if (!IsDigit(Peek())) return false;
      while (IsDigit(Peek())) ++pos_;
    }
    if (Peek() == 'e' || Peek() == 'E') {
      ++pos_;
      if (Peek() == '+' || Peek() == '-') ++pos_;
      if (!IsDigit(Peek())) return false;
      while (IsDigit(Peek())) ++pos_;
    }
    return pos_ > start;
  }

  static bool IsDigit(char c) { return c >= '0' && c <= '9'; }

  bool ReadHex4(std::uint32_t& unit) {
    if (pos_ + 4 > text_.size()) return false;
    unit = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = text_[pos_++];
      unit <<= 4;
      if (c >= '0' && c <= '9') unit |= static_cast<unsigned>(c - '0');
      else if (c >= 'a' && c <= 'f') unit |= static_cast<unsigned>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') unit |= static_cast<unsigned>(c - 'A' + 10);
      else return false;
    }
    return true;
  }

  bool ReadString(std::string& out) {
    out.clear();
    if (!Consume('"')) return false;
    while (pos_ < text_.size()) {
      const char c = text_[pos_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return false;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (pos_ >= text_.size()) return false;
      const char e = text_[pos_++];
      switch (e) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          // Only ASCII prefixes are ever compared, so a non-ASCII character is kept as a byte
          // that no ASCII text matches.
          std::uint32_t unit = 0;
          if (!ReadHex4(unit)) return false;
          out += unit < 0x80 ? static_cast<char>(unit) : kNonAscii;
          break;
        }
        default:
          return false;
      }
    }
    return false;
  }

  const std::string& text_;
  std::size_t pos_ = 0;
};

}  // namespace

bool DevToolsListHasPage(const std::string& json, const std::string& urlPrefix) {
  bool found = false;
  JsonReader reader(json);
  return reader.ReadPageList(urlPrefix, found) && found;
}
