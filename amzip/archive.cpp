// ZipArchive: opening and closing, entry information, and the strict reads through which the
// directory walk, the end-record search and extraction use the current byte source.
#include "amzip/archive.h"

#include <cstring>
#include <deque>

#include "amzip/access_points.h"
#include "amzip/entry.h"
#include "amzip/fail.h"
#include "amzip/little_endian.h"
#include "amzip/reader.h"
#include "amzip/resource.h"
#include "text/text.h"
#include "text/url.h"

namespace amzip {

namespace {

constexpr std::uint32_t kWalkWindow = 65536;

}  // namespace

ZipArchive::ZipArchive() : points(std::make_unique<AccessPoints>()) {}

ZipArchive::~ZipArchive() { Close(); }

void ZipArchive::AttachSource(std::unique_ptr<ReadI> source, const std::wstring& label) {
  reader = std::move(source);
  path = label;
  volumes.push_back(ZipVolume{0, label, 0, 0});
  currentVolume = &volumes.front();
  currentVolume->size = reader->Size();
  cursor = 0;
  windowLength = 0;
  std::lock_guard<std::mutex> stamping(stampLock);
  stamped = reader->Stamp(&stampSize, &stampTime);
}

void ZipArchive::OpenFileSource(const std::wstring& filePath) {
  Close();
  auto file = std::make_unique<FileReader>(filePath);
  if (!file->IsOpen()) {
    const std::uint32_t error = LastSystemError();
    // The closed reader stays in place, so IsOpen() reports false.
    reader = std::move(file);
    FailWithDetail(AZ_ERROR_OPEN_FILE, static_cast<std::int32_t>(error));
  }
  AttachSource(std::move(file), filePath);
  fileSource = true;
}

void ZipArchive::OpenFile(const std::wstring& filePath) {
  OpenFileSource(filePath);
  ReadDirectory();
}

void ZipArchive::OpenResource(const wchar_t* type, const wchar_t* name) {
  Close();
  const void* data = nullptr;
  std::uint64_t size = 0;
  if (!FindEmbeddedArchive(type, name, &data, &size)) return;
  const std::wstring label = IsResourceId(type)
      ? AnsiToWide(FormatText("#%u", static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(type))))
      : std::wstring(type);
  std::intptr_t file = -1;
  std::uint64_t start = 0;
  if (!EmbeddedArchiveFile(&file, &start)) file = -1;
  AttachSource(std::make_unique<MemReader>(data, size, file, start), label);
  ReadDirectory();
}

void ZipArchive::OpenMemory(const void* data, std::uint64_t size, const std::wstring& label) {
  Close();
  if (data == nullptr) return;  // nothing to read: the archive stays closed
  AttachSource(std::make_unique<MemReader>(data, size), label);
  ReadDirectory();
}

void ZipArchive::OpenSource(std::unique_ptr<ReadI> source, const std::wstring& label) {
  Close();
  AttachSource(std::move(source), label);
  ReadDirectory();
}

bool ZipArchive::IsOpen() const { return reader != nullptr && reader->IsOpen(); }

bool ZipArchive::IsLoaded() const { return loaded.load(std::memory_order_acquire); }

void ZipArchive::Close() {
  if (reader != nullptr) {
    reader->Close();
    reader.reset();
  }
  ForgetEntries();
  volumes.clear();
  currentVolume = nullptr;
  loaded.store(false);
  cursor = 0;
  comment.clear();
  commentLength = 0;
  fileSource = false;
  redirected = false;
  std::vector<unsigned char>().swap(extraBuffer);
}

void ZipArchive::ForgetEntries() {
  points->Clear();
  entries.clear();
  entryStore.clear();
  entryIndex.clear();
  indexedCount = 0;
}

const ZipEntry* ZipArchive::FindEntry(const std::wstring& name) const {
  if (entryIndex.empty()) return nullptr;
  const std::wstring key = NormalizePath(name);
  const std::uint32_t hash = KeyHash(key);
  const std::size_t mask = entryIndex.size() - 1;
  std::wstring entryKey, scratch;
  for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
    const std::uint32_t position = entryIndex[slot];
    if (position == 0) return nullptr;
    const ZipEntry* entry = entries[position - 1];
    if (entry->keyHash != hash) continue;
    EntryKey(*entry, &entryKey, &scratch);
    if (entryKey == key) return entry;
  }
}

const ZipEntry* ZipArchive::LoadedEntry(const std::wstring& name) {
  if (!IsOpen()) Fail(AZ_ERROR_INVALID_STATE);
  if (!loaded.load(std::memory_order_acquire)) {
    std::lock_guard<std::mutex> walking(directoryLock);
    // Another thread may have loaded it meanwhile; otherwise this walk meets the same outcome
    // as the open's (an error passes through), or finds a non-archive with nothing in it.
    if (!loaded.load(std::memory_order_relaxed)) ReadDirectory();
    if (!loaded.load(std::memory_order_relaxed)) return nullptr;
  }
  return FindEntry(name);
}

bool ZipArchive::Find(const std::wstring& name, EntryInfo* info, bool withTime) const {
  std::unique_lock<std::mutex> walking(directoryLock, std::defer_lock);
  if (!loaded.load(std::memory_order_acquire)) walking.lock();
  const ZipEntry* entry = FindEntry(name);
  if (entry == nullptr) return false;
  info->size = entry->uncompressedSize;
  // The MS-DOS stamp is local time; both fields 0 mean there is none.
  info->hasTime = entry->dosDate != 0 || entry->dosTime != 0;
  if (info->hasTime && withTime) DosDateTimeToUtc(entry->dosDate, entry->dosTime, &info->modified);
  info->stored = entry->method == 0;
  info->entry = entry;
  info->folder = !entry->name.empty() && entry->name.back() == L'\\';
  return true;
}

bool ZipArchive::GetEntryInfo(const std::wstring& name, std::uint32_t* size, FileTime* time) {
  EntryInfo info;
  if (!Find(name, &info)) return false;
  *size = static_cast<std::uint32_t>(info.size);
  if (time != nullptr && info.hasTime) *time = info.modified;
  return true;
}

bool ZipArchive::IsVerified(const std::wstring& name) const {
  std::unique_lock<std::mutex> walking(directoryLock, std::defer_lock);
  if (!loaded.load(std::memory_order_acquire)) walking.lock();
  const ZipEntry* entry = FindEntry(name);
  return entry != nullptr && entry->verifiedIn.load(std::memory_order_acquire) == generation.load();
}

bool ZipArchive::IsVerified(const std::wstring& name, const EntryInfo& info) const {
  if (!loaded.load(std::memory_order_acquire)) return IsVerified(name);
  return info.entry->verifiedIn.load(std::memory_order_acquire) == generation.load();
}

const ZipEntry* ZipArchive::EntryOf(const std::wstring& name, const EntryInfo& info) {
  return loaded.load(std::memory_order_acquire) ? info.entry : LoadedEntry(name);
}

void ZipArchive::NoteSourceChanges() {
  if (reader == nullptr) return;
  std::uint64_t size = 0;
  std::uint64_t time = 0;
  if (!reader->Stamp(&size, &time)) return;
  std::lock_guard<std::mutex> stamping(stampLock);
  if (stamped && size == stampSize && time == stampTime) return;
  stamped = true;
  stampSize = size;
  stampTime = time;
  generation.fetch_add(1);
  for (const ZipEntry* entry : entries) entry->dataOffset.store(0, std::memory_order_relaxed);
}

const std::vector<ZipEntry*>& ZipArchive::Entries() const { return entries; }

void ZipArchive::SetAccessPoints(std::size_t budget, std::uint64_t spacing) {
  points = std::make_unique<AccessPoints>(budget, spacing);
}

bool ZipArchive::HasAllAccessPoints(const EntryInfo& info) const {
  return info.entry == nullptr || info.entry->method == 0 || points->IsComplete(*info.entry, generation.load());
}

std::uint16_t ZipArchive::ReadU16() {
  unsigned char bytes[2];
  ReadBytes(bytes, 2);
  return LoadU16(bytes);
}

std::uint32_t ZipArchive::ReadU32() {
  unsigned char bytes[4];
  ReadBytes(bytes, 4);
  return LoadU32(bytes);
}

std::uint64_t ZipArchive::ReadU64() {
  unsigned char bytes[8];
  ReadBytes(bytes, 8);
  return LoadU64(bytes);
}

// Served from a read-ahead window over the source, as the walk reads many small fields in
// order; the window lives only while a walk runs.
void ZipArchive::ReadBytes(void* buffer, std::uint32_t count) {
  auto* out = static_cast<unsigned char*>(buffer);
  while (count != 0) {
    if (cursor < windowStart || cursor - windowStart >= windowLength) {
      window.resize(kWalkWindow);
      windowLength = 0;
      if (!reader->ReadAt(cursor, window.data(), kWalkWindow, &windowLength) || windowLength == 0) Fail(AZ_ERROR_READ);
      windowStart = cursor;
    }
    const std::uint64_t available = windowStart + windowLength - cursor;
    const std::uint32_t n = available < count ? static_cast<std::uint32_t>(available) : count;
    std::memcpy(out, window.data() + (cursor - windowStart), n);
    out += n;
    cursor += n;
    count -= n;
  }
}

// Only moves the cursor: a place past the end fails at the next read.
void ZipArchive::SeekTo(std::uint64_t offset, int origin) {
  switch (origin) {
    case SEEK_SET: cursor = offset; break;
    case SEEK_CUR: cursor += offset; break;
    default: cursor = SourceSize() + offset; break;
  }
}

void ZipArchive::Skip(std::uint64_t count) {
  const std::uint64_t position = Tell();
  const std::uint64_t size = SourceSize();
  if (position > size || count > size - position) Fail(AZ_ERROR_READ);
  SeekTo(position + count, SEEK_SET);
}

std::uint64_t ZipArchive::Tell() { return cursor; }

std::uint64_t ZipArchive::SourceSize() const { return currentVolume != nullptr ? currentVolume->size : 0; }

}  // namespace amzip
