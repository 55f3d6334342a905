// ListFolder: a walk over the course folder with std::filesystem.
#include "tools/orvane-zip/folder_walk.h"

#include <algorithm>
#include <chrono>
#include <system_error>

#include "text/text.h"
#include "tools/orvane-zip/platform.h"

namespace orvanezip {

namespace fs = std::filesystem;

namespace {

std::string Utf8(const fs::path& path) {
  const std::u8string text = path.generic_u8string();
  return std::string(text.begin(), text.end());
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

class Walk {
 public:
  Walk(const fs::path& root, std::vector<FolderFile>* found, std::vector<std::string>* left)
      : files(found), skipped(left) {
    std::error_code ec;
    canonicalRoot = fs::canonical(root, ec);
    if (ec) canonicalRoot = root;
  }

  // Adds the folder's content under the name prefix; `open` holds the canonical folders being
  // walked, so a link back to one of them is seen.
  bool Folder(const fs::path& folder, const std::string& prefix, std::vector<fs::path>& open, std::wstring* error) {
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) {
      *error = L"cannot read the folder " + PathText(folder) + L": " + AnsiToWide(ec.message());
      return false;
    }
    for (; it != fs::directory_iterator(); it.increment(ec)) {
      if (ec) break;
      if (!Item(it->path(), prefix + Utf8(it->path().filename()), open, error)) return false;
    }
    if (ec) {
      *error = L"cannot read the folder " + PathText(folder) + L": " + AnsiToWide(ec.message());
      return false;
    }
    return true;
  }

 private:
  bool Item(const fs::path& path, const std::string& name, std::vector<fs::path>& open, std::wstring* error) {
    std::error_code ec;
    const fs::file_status own = fs::symlink_status(path, ec);
    fs::path target = path;
    if (fs::is_symlink(own)) {
      target = fs::canonical(path, ec);
      if (ec) return Skip(name, "a link whose target does not exist");
      if (!IsInside(target, canonicalRoot)) return Skip(name, "a link to outside the folder");
    }
    const fs::file_status status = fs::status(target, ec);
    if (fs::is_regular_file(status)) {
      FolderFile file;
      file.name = name;
      file.path = path;
      file.size = fs::file_size(target, ec);
      if (ec) return Skip(name, "a file whose size cannot be read");
      const fs::file_time_type time = fs::last_write_time(target, ec);
      if (!ec) {
        file.modified = std::chrono::duration_cast<std::chrono::seconds>(
                            std::chrono::file_clock::to_sys(time).time_since_epoch()).count();
      }
      files->push_back(std::move(file));
      return true;
    }
    if (fs::is_directory(status)) {
      fs::path canonical = fs::canonical(target, ec);
      if (ec) canonical = target;
      if (std::find(open.begin(), open.end(), canonical) != open.end()) return Skip(name, "a link to a folder that contains it");
      open.push_back(canonical);
      const bool ok = Folder(path, name + "/", open, error);
      open.pop_back();
      return ok;
    }
    return Skip(name, "neither a file nor a folder");
  }

  bool Skip(const std::string& name, const char* why) {
    skipped->push_back(name + " (" + why + ")");
    return true;
  }

  std::vector<FolderFile>* files;
  std::vector<std::string>* skipped;
  fs::path canonicalRoot;
};

}  // namespace

bool ListFolder(const fs::path& root, std::vector<FolderFile>* files, std::vector<std::string>* skipped,
                std::wstring* error) {
  Walk walk(root, files, skipped);
  std::error_code ec;
  std::vector<fs::path> open{fs::canonical(root, ec)};
  if (!walk.Folder(root, "", open, error)) return false;
  std::sort(files->begin(), files->end(), [](const FolderFile& a, const FolderFile& b) { return a.name < b.name; });
  return true;
}

}  // namespace orvanezip
