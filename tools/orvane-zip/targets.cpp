#include "tools/orvane-zip/targets.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "text/text.h"
#include "text/url.h"
#include "tools/orvane-zip/files.h"
#include "tools/orvane-zip/platform.h"

namespace orvanezip {

namespace {

// SOURCE's name for its outputs: a folder's own name, a file's without its .zip or .exe.
std::wstring SourceStem(const std::wstring& source) {
  std::filesystem::path path = FileSystemPath(source);
  if (!path.has_filename()) path = path.parent_path();  // "course/"
  std::error_code ec;
  if (path.filename() == "." || path.filename() == "..") path = std::filesystem::absolute(path, ec).lexically_normal();
  if (!path.has_filename()) path = path.parent_path();
  std::wstring stem = PathText(path.filename());
  if (!std::filesystem::is_directory(path, ec)) {
    for (const wchar_t* extension : {L".zip", L".exe"}) {
      const std::size_t length = std::char_traits<wchar_t>::length(extension);
      std::wstring tail = stem.size() > length ? stem.substr(stem.size() - length) : L"";
      LowerAscii(tail);
      if (tail == extension) {
        stem.resize(stem.size() - length);
      }
    }
  }
  return stem.empty() ? L"course" : stem;
}

// The output folder's path inside the SOURCE folder, as an --exclude pattern ("out/"), so that
// one target's output is not packed into the next; "" when it is not inside.
std::wstring ExcludedOutputFolder(const std::wstring& source, const std::wstring& folder) {
  std::error_code ec;
  const std::filesystem::path from = std::filesystem::weakly_canonical(FileSystemPath(source), ec);
  const std::filesystem::path to = std::filesystem::weakly_canonical(FileSystemPath(folder), ec);
  if (ec || !std::filesystem::is_directory(from, ec)) return L"";
  const std::filesystem::path inside = to.lexically_relative(from);
  if (inside.empty() || *inside.begin() == ".." || inside == ".") return L"";
  return PathText(inside.generic_wstring()) + L"/";
}

}  // namespace

const std::vector<Target>& KitTargets() {
  static const std::vector<Target> targets = {
      {L"windows-x86", L"orvane.exe", true},
      {L"windows-x64", L"orvane.exe", true},
      {L"linux-x86_64", L"orvane", false},
      {L"linux-arm64", L"orvane", false},
  };
  return targets;
}

const Target* FindTarget(const std::wstring& name) {
  for (const Target& target : KitTargets()) {
    if (name == target.name) return &target;
  }
  return nullptr;
}

std::wstring KitLauncher(const Target& target) {
  return PathText(FileSystemPath(FolderOf(ProgramPath())) / "launchers" / target.name / target.program);
}

std::wstring TargetNames() {
  std::wstring names;
  for (const Target& target : KitTargets()) names += (names.empty() ? L"" : L", ") + std::wstring(target.name);
  return names;
}

int PackTargets(const PackRequest& request, const std::vector<const Target*>& targets) {
  const std::filesystem::path folder = FileSystemPath(request.output);
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (!std::filesystem::is_directory(folder, ec)) {
    std::fprintf(stderr, "orvane-zip: cannot make the folder %s\n", ConsoleText(request.output).c_str());
    return 1;
  }
  const std::wstring stem = SourceStem(request.source);
  const std::wstring excluded = ExcludedOutputFolder(request.source, request.output);
  int status = 0;
  std::string id = request.id;  // the first pack's, for the others: one course on every platform
  for (const Target* target : targets) {
    PackRequest one = request;
    one.id = id;
    one.launcher = KitLauncher(*target);
    one.tar = request.tar && !target->windows;
    const wchar_t* suffix = target->windows ? L".exe" : one.tar ? L".tar.gz" : L"";
    one.output = PathText(folder / (stem + L"-" + target->name + suffix));
    if (!target->windows) one.icon.clear(), one.hasTitle = false;
    if (!excluded.empty()) one.excludes.push_back(excluded);
    const int packed = Pack(one, id.empty() ? &id : nullptr);
    if (packed != 0) status = packed;
  }
  return status;
}

}  // namespace orvanezip
