// ListFolder: a walk over the course folder with std::filesystem, folders known by identity.
#include "tools/orvane-zip/folder_walk.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <system_error>

#include "text/text.h"

namespace orvanezip {

namespace fs = std::filesystem;

const char* const kDefaultExcludes[] = {".git", ".svn", ".hg", ".DS_Store", "Thumbs.db", "desktop.ini", "*~", ".*.swp", nullptr};

namespace {

// The name's bytes: UTF-8 on Windows (from UTF-16); on POSIX the file system's own bytes.
std::string NameBytes(const fs::path& name) {
  const std::u8string text = name.u8string();
  return std::string(text.begin(), text.end());
}

bool IsUtf8(const std::string& text) {
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const std::size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (length == 0 || i + length > text.size()) return false;
    std::uint32_t code = length == 1 ? c : c & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
      const unsigned char next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    static const std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < least[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += length;
  }
  return true;
}

// True when `path` (canonical) is `folder` (canonical) or lies below it.
bool IsInside(const fs::path& path, const fs::path& folder) {
  auto p = path.begin();
  for (auto f = folder.begin(); f != folder.end(); ++f, ++p) {
    if (f->empty()) continue;  // a trailing separator
    if (p == path.end() || *p != *f) return false;
  }
  return true;
}

bool Glob(const char* pattern, const char* text) {
  for (; *pattern != '\0'; ++pattern, ++text) {
    if (*pattern == '*') {
      const bool any = pattern[1] == '*';
      pattern += any ? 2 : 1;
      for (const char* rest = text;; ++rest) {
        if (Glob(pattern, rest)) return true;
        if (*rest == '\0' || (!any && *rest == '/')) return false;
      }
    }
    if (*text == '\0' || (*pattern == '?' ? *text == '/' : *pattern != *text)) return false;
  }
  return *text == '\0';
}

class Walk {
 public:
  Walk(const fs::path& root, const WalkOptions& given, std::vector<FolderFile>* found, WalkReport* walkReport)
      : options(given), files(found), report(walkReport) {
    std::error_code ec;
    canonicalRoot = fs::canonical(root, ec);
    if (ec) canonicalRoot = root;
  }

  bool Folder(const fs::path& folder, const std::string& prefix, std::wstring* error) {
    FileId id;
    if (IdentityOf(folder, &id)) {
      const auto seen = folders.emplace(id, prefix);
      if (!seen.second) {
        report->leftOut.push_back(prefix + " (the same folder as " + (seen.first->second.empty() ? "SOURCE" : seen.first->second) + ")");
        return true;
      }
    }
    // In name order, so the first path to a folder, which names it, is the same on every run.
    std::error_code ec;
    std::vector<fs::path> items;
    fs::directory_iterator it(folder, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) items.push_back(it->path());
    if (ec) {
      *error = L"cannot read the folder " + PathText(folder) + L": " + AnsiToWide(ec.message());
      return false;
    }
    std::sort(items.begin(), items.end(), [](const fs::path& a, const fs::path& b) { return NameBytes(a.filename()) < NameBytes(b.filename()); });
    for (const fs::path& item : items) {
      if (!Item(item, prefix, error)) return false;
    }
    return true;
  }

 private:
  bool Excluded(const std::string& name, const std::string& base, bool folder) {
    for (const char* const* pattern = kDefaultExcludes; *pattern != nullptr; ++pattern) {
      if (MatchesPattern(*pattern, name)) return LeaveOut(name + (folder ? "/" : ""), "left out by default");
    }
    for (const std::string& pattern : options.excludes) {
      // "NAME/" names folders only.
      const bool folderOnly = !pattern.empty() && pattern.back() == '/';
      if ((folder || !folderOnly) && MatchesPattern(folderOnly ? pattern.substr(0, pattern.size() - 1) : pattern, name)) {
        return LeaveOut(name + (folder ? "/" : ""), "--exclude " + pattern);
      }
    }
    if (!options.outputName.empty() && base.rfind(options.outputName + ".orvane-zip-", 0) == 0) {
      return LeaveOut(name, "a temporary file of OUTPUT");
    }
    return false;
  }

  bool Item(const fs::path& path, const std::string& prefix, std::wstring* error) {
    const std::string base = NameBytes(path.filename());
    const std::string name = prefix + base;
    // A name that another system would read as a path ("..\\..\\evil.bat" for a Windows unzip
    // tool), or that would rewrite a terminal, is no name to carry.
    for (const char c : base) {
      if (c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
        *error = Utf8ToWide(name) + L": a name with a backslash or a control character cannot be packed safely: rename it";
        return false;
      }
    }
    std::error_code ec;
    const fs::file_status own = fs::symlink_status(path, ec);
    if (ec) return CannotRead(path, ec, error);
    fs::path target = path;
    if (fs::is_symlink(own)) {
      target = fs::canonical(path, ec);
      if (ec == std::errc::no_such_file_or_directory) return Skip(name, "a link whose target does not exist");
      if (ec) return CannotRead(path, ec, error);
    }
    const fs::file_status status = fs::status(target, ec);
    if (ec) return CannotRead(path, ec, error);
    if (Excluded(name, base, fs::is_directory(status))) return true;
    // SOURCE itself or a folder around it: everything beside the course (keys, browser data).
    if (fs::is_symlink(own) && fs::is_directory(status) && IsInside(canonicalRoot, target)) {
      return LeaveOut(name + "/", "a link to SOURCE or a folder above it: not followed, it would pack what lies around the course");
    }
    if (fs::is_symlink(own) && !IsInside(target, canonicalRoot)) {
      if (!options.followOutside) return LeaveOut(name, "a link to outside the folder, --no-outside-links");
      report->followed.push_back(name + " -> " + NameBytes(target));
    }
    if (!IsUtf8(base)) report->notUtf8.push_back(name);
    if (fs::is_regular_file(status)) {
      FileId id;
      if (options.hasOutput && IdentityOf(target, &id) && id == options.output) return LeaveOut(name, "OUTPUT itself");
      FolderFile file;
      file.name = name;
      file.utf8Name = IsUtf8(name);
      file.path = path;
      file.size = fs::file_size(target, ec);
      if (ec) return CannotRead(path, ec, error);
      const fs::file_time_type time = fs::last_write_time(target, ec);
      if (!ec) {
        file.modified = std::chrono::duration_cast<std::chrono::seconds>(
                            std::chrono::file_clock::to_sys(time).time_since_epoch()).count();
      }
      files->push_back(std::move(file));
      return true;
    }
    if (fs::is_directory(status)) return Folder(path, name + "/", error);
    return Skip(name, "neither a file nor a folder");
  }

  // A path the system refuses to tell about (too long, no permission): the pack fails naming it.
  static bool CannotRead(const fs::path& path, const std::error_code& ec, std::wstring* error) {
    *error = L"cannot read " + PathText(path) + L": " + AnsiToWide(ec.message());
    return false;
  }

  bool LeaveOut(const std::string& name, const std::string& why) {
    report->leftOut.push_back(name + " (" + why + ")");
    return true;
  }

  bool Skip(const std::string& name, const char* why) {
    report->skipped.push_back(name + " (" + why + ")");
    return true;
  }

  const WalkOptions& options;
  std::vector<FolderFile>* files;
  WalkReport* report;
  fs::path canonicalRoot;
  std::map<FileId, std::string> folders;  // each folder walked, by identity, and its name
};

}  // namespace

bool MatchesPattern(const std::string& pattern, const std::string& path) {
  if (pattern.find('/') != std::string::npos) return Glob(pattern.c_str(), path.c_str());
  const std::size_t slash = path.rfind('/');
  return Glob(pattern.c_str(), path.c_str() + (slash == std::string::npos ? 0 : slash + 1));
}

bool ListFolder(const fs::path& root, const WalkOptions& options, std::vector<FolderFile>* files, WalkReport* report,
                std::wstring* error) {
  Walk walk(root, options, files, report);
  if (!walk.Folder(root, "", error)) return false;
  std::sort(files->begin(), files->end(), [](const FolderFile& a, const FolderFile& b) { return a.name < b.name; });
  return true;
}

}  // namespace orvanezip
