#include "launcher/run/course_identity.h"

#include <cstdint>
#include <set>

#include "amzip/archive.h"
#include "amzip/course_id.h"
#include "amzip/entry.h"
#include "text/text.h"
#include "text/url.h"

std::wstring CourseFileName(const std::wstring& archiveOrProgramPath) {
  const std::size_t slash = archiveOrProgramPath.find_last_of(L"/\\");
  std::wstring name =
      slash == std::wstring::npos ? archiveOrProgramPath : archiveOrProgramPath.substr(slash + 1);
  LowerAscii(name);
  return name;
}

std::wstring CourseIdentityOf(const amzip::ZipArchive& archive, const std::wstring& archiveOrProgramPath,
                              const std::string& packageIdentifier) {
  if (!packageIdentifier.empty()) return L"package " + Utf8ToWide(packageIdentifier);
  const std::string id = amzip::CourseIdOf(archive.Comment());
  if (!id.empty()) return L"id " + AnsiToWide(id);
  // Names keep "\" as the archive reader gives them; letter case counts.
  std::set<std::wstring> topLevel;
  for (const amzip::ZipEntry* entry : archive.Entries()) topLevel.insert(entry->name.substr(0, entry->name.find(L'\\')));
  // FNV-1a, 64 bits, over each name's UTF-8 bytes and a 0 after it.
  std::uint64_t digest = 0xcbf29ce484222325ull;
  for (const std::wstring& name : topLevel) {
    for (const char c : WideToUtf8(name) + '\0') {
      digest ^= static_cast<unsigned char>(c);
      digest *= 0x100000001b3ull;
    }
  }
  return CourseFileName(archiveOrProgramPath) + AnsiToWide(FormatText(" #%016llx", static_cast<unsigned long long>(digest)));
}
