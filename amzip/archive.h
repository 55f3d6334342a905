// ZipArchive: the archive reader's public object. It opens a zip archive from a file, from the
// executable's embedded "RT_ZIP" resource or from a memory block, and finds and reads entries by
// name (matched through NormalizePath). Opening and closing must not overlap any other call;
// between them, any number of threads may look entries up and read them at once (see Find).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "amzip/error.h"
#include "text/filetime.h"

namespace amzip {

// Public declarations only; the implementation owns the details of these.
class AccessPoints;
class ReadI;
struct ZipEntry;
struct ZipVolume;

// A resource name given as an integer identifier, as MAKEINTRESOURCEW makes it.
inline const wchar_t* ResourceId(unsigned id) {
  return reinterpret_cast<const wchar_t*>(static_cast<std::uintptr_t>(id));
}

// What a server needs to know of an entry before it reads any data.
struct EntryInfo {
  std::uint64_t size = 0;  // uncompressed byte count, full 64 bits (zip64 included)
  bool hasTime = false;    // an MS-DOS stamp was present
  FileTime modified = 0;   // UTC, valid when hasTime
  bool stored = false;     // method 0: the data lies in the source as it is served
  // The entry found, for the calls that take an EntryInfo: they need not look the name up
  // again. Valid while the archive stays open (see Entries for a directory that did not load).
  const ZipEntry* entry = nullptr;
  bool folder = false;     // a folder entry ("sub/"): a name, never content
};

// Where a stored entry's bytes lie, so a caller can send them without copying them through its
// own buffers: an archive in memory gives a pointer to the first byte, an archive file gives
// the file's native handle (POSIX descriptor / Windows HANDLE) and the data's absolute offset.
// The handle belongs to the archive: valid while it stays open, never to be closed or moved by
// the caller (read it positionally: pread, ReadFile with OVERLAPPED).
struct StoredSpan {
  const unsigned char* memory = nullptr;  // set for memory sources
  std::intptr_t file = -1;                // set for file sources
  std::uint64_t offset = 0;               // of the entry's first byte in that file
};

// One sequential read of one entry, owning its own buffers and inflate state. It shares no
// position with any other reader, so any number may be open at once on one archive, on any
// thread, while the archive stays open.
class EntryReader {
 public:
  virtual ~EntryReader();
  // Delivers the next bytes of the entry (up to `capacity`), in order, from the offset the
  // reader was opened at. Returns the count (> 0), or 0 once the entry's last byte has been
  // delivered (and for a capacity of 0). Throws AZError for unreadable or damaged data:
  // AZ_ERROR_DATA_SHORT when the data ends before the directory's size (also when the source
  // ends inside it), AZ_ERROR_DATA_LONG when a deflate stream goes on past it, and, for a
  // reader opened at offset 0, AZ_ERROR_CRC_MISMATCH. These checks run in the call that
  // reaches the last byte, which throws instead of returning: a caller that stops on the
  // throw never passes on a complete, wrong entry. A reader opened at a later offset cannot
  // check the CRC-32; it checks that the data reaches exactly the directory's size. Once it
  // has thrown, every further call throws the same error.
  virtual std::size_t Read(void* buffer, std::size_t capacity) = 0;
  // Does at most about `budget` bytes of the work that has to come before the next Read (a
  // deflated entry opened at a later offset inflates and drops the bytes before it), so a
  // caller can share the time with other work: true once Read no longer has any of it to do.
  // Throws as Read.
  virtual bool Prepare(std::uint64_t budget) = 0;
};

class ZipArchive {
 public:
  ZipArchive();
  ~ZipArchive();
  ZipArchive(const ZipArchive&) = delete;
  ZipArchive& operator=(const ZipArchive&) = delete;

  // Opens the file at `path` and reads its directory. Throws AZError: AZ_ERROR_OPEN_FILE when
  // the file cannot be opened (IsOpen() is then false); a directory error otherwise (IsOpen()
  // stays true, the entries read before the error stay findable).
  void OpenFile(const std::wstring& path);

  // Opens the archive embedded in the running executable under resource type `type` (a string)
  // and `name` (a string or ResourceId(n)). A missing resource is no error: the archive stays
  // closed. Throws AZError for a directory error.
  void OpenResource(const wchar_t* type, const wchar_t* name);

  // Opens `size` bytes at `data` (not copied; they must outlive the archive) as an archive;
  // `label` takes the place of the path. Throws AZError like OpenFile's directory errors.
  void OpenMemory(const void* data, std::uint64_t size, const std::wstring& label);

  // Opens a source of the caller's making as an archive (an archive that lies inside a larger
  // file, as in a packed launcher); `label` takes the place of the path. Throws AZError like
  // OpenFile's directory errors.
  void OpenSource(std::unique_ptr<ReadI> source, const std::wstring& label);

  bool IsOpen() const;
  // True when the directory was read up to its end record. An open source that was taken for
  // something other than an archive (the open returned without error) gives false.
  bool IsLoaded() const;
  void Close();
  // The archive's comment (the end record's), as stored; "" before an open.
  const std::string& Comment() const { return comment; }

  // The entry's uncompressed size (low 32 bits) and, when `time` is not null and the entry has
  // an MS-DOS stamp, its modification time in UTC; `*time` is untouched otherwise. False when
  // the entry is not found. Never throws; does not load the directory.
  bool GetEntryInfo(const std::wstring& name, std::uint32_t* size, FileTime* time);

  // Two calls: with *size == 0 stores the entry's uncompressed size in *size; then with a
  // buffer of *size bytes fills it. False when the entry is not there, is 4 GiB or larger, or
  // `buffer` is null with a non-zero count. Never writes more than *size bytes. Throws AZError,
  // as OpenEntry and EntryReader do: a size the data cannot have fails the size query already,
  // and the bytes are checked against the CRC-32 and the size.
  bool Extract(const std::wstring& name, void* buffer, std::uint32_t* size);

  // The calls below, GetEntryInfo and Extract are safe from any number of threads at once,
  // once an open has returned and until Close or the next open. The archive guards its directory
  // itself: while it is not loaded (a walk that failed), lookups and the walk run under its
  // lock; once loaded it never changes and lookups take no lock. Reading takes none.

  // The entry's size, time and method; false when no entry has that name. Never throws;
  // does not load the directory. Without `withTime`, hasTime tells whether there is a stamp but
  // `modified` stays 0: the conversion from local time is left to callers that send it.
  bool Find(const std::wstring& name, EntryInfo* info, bool withTime = true) const;

  // A reader positioned at uncompressed `offset` (at most the entry's size); nullptr when the
  // entry is not found. Walks the directory again first while it is not loaded, as Extract
  // does. Throws AZError: AZ_ERROR_INVALID_STATE (not open), AZ_ERROR_UNKNOWN_COMPRESSION,
  // AZ_ERROR_ZIP64_DISABLED, AZ_ERROR_INVALID_ARGUMENT (offset past the end),
  // AZ_ERROR_DATA_SHORT / AZ_ERROR_DATA_LONG (sizes the data cannot have: a stored entry
  // whose two sizes differ, more bytes than the source holds or deflate can make of it), and
  // the errors of reading the local header. A deflated entry is inflated from its start and
  // the bytes before `offset` discarded.
  std::unique_ptr<EntryReader> OpenEntry(const std::wstring& name, std::uint64_t offset = 0);

  // For a stored entry: where its bytes lie. False for a deflated entry, a missing one, or
  // one that OpenEntry would refuse. Never throws.
  bool GetStoredSpan(const std::wstring& name, StoredSpan* span);

  // True once a reader opened at offset 0 has delivered the whole entry with a matching CRC-32
  // (Extract reads that way too): the bytes of this source were checked in this run, and the
  // file has not changed since as far as NoteSourceChanges has seen.
  bool IsVerified(const std::wstring& name) const;

  // OpenEntry, GetStoredSpan and IsVerified for the entry that Find just gave `info` for under
  // `name`: one lookup serves them all once the directory is loaded.
  std::unique_ptr<EntryReader> OpenEntry(const std::wstring& name, const EntryInfo& info, std::uint64_t offset = 0);
  bool GetStoredSpan(const std::wstring& name, const EntryInfo& info, StoredSpan* span);
  bool IsVerified(const std::wstring& name, const EntryInfo& info) const;

  // For a deflated entry that IsVerified and whose deflate stream filled its compressed data
  // exactly: where that data lies and its length, so it can be sent as it is stored (a raw
  // deflate stream), and, when `adler32` is given, the Adler-32 of the entry's bytes that the
  // checked read computed (what the zlib format appends). False otherwise. Never throws.
  bool GetDeflateSpan(const std::wstring& name, const EntryInfo& info, StoredSpan* span, std::uint64_t* length,
                      std::uint32_t* adler32 = nullptr);
  // Copies the `length` bytes of `span` (from GetStoredSpan or GetDeflateSpan) into `buffer`.
  // False when the source cannot give them all. Never throws.
  bool ReadSpan(const StoredSpan& span, void* buffer, std::uint64_t length) const;

  // Deflated entries' access points (amzip/access_points.h): every reader this archive opens
  // starts from the nearest one before its offset and records those it passes. The store can
  // be replaced (a budget and spacing of their own: tests, benchmarks) only while no reader is
  // open.
  AccessPoints& Points() const { return *points; }
  void SetAccessPoints(std::size_t budget, std::uint64_t spacing);
  // True when a reader has inflated the whole entry in this generation, so it has every point
  // it can have (and for entries that are not deflated).
  bool HasAllAccessPoints(const EntryInfo& info) const;

  // Compares the archive file's size and modification time with those seen last; when either
  // changed, no entry counts as verified any more, and local headers are read again. Callers
  // about to send bytes unchecked call it first. Costs a system call; never throws.
  void NoteSourceChanges();

  // The entries in directory order, for tools that list an archive (amzip/entry.h). Valid
  // until the next open or Close, and until a read (Extract, OpenEntry, GetStoredSpan) on an
  // archive whose directory did not load, which walks the directory again and renews the list.
  const std::vector<ZipEntry*>& Entries() const;

 private:
  // One pass over the directory (directory.cpp).
  void ReadDirectory();
  void ReadEntryHeader(ZipEntry* entry, bool central);
  void TakeZip64Values(ZipEntry* entry, bool central);
  // `decoded`: the entry's name as ReadEntryHeader decoded it, before "/" became "\".
  void IndexEntry(ZipEntry* entry, const std::wstring& decoded);
  void ForgetEntries();
  // The name index (directory.cpp): the key an entry is found by (from `decoded` when given
  // and usable), and the hash that places it.
  static void EntryKey(const ZipEntry& entry, std::wstring* key, std::wstring* scratch,
                       const std::wstring* decoded = nullptr);
  static std::uint32_t KeyHash(const std::wstring& key);
  void GrowIndex();

  // The end record (end_record.cpp): 1 found and read, 0 not an archive, -1 none found.
  int FindEndRecord();
  void ReadEndRecord();
  void TakeZip64EndRecord(std::uint64_t recordOffset);
  bool SearchEndSignature(std::uint64_t* offset);
  void RedirectToLastPart();

  // Opens `reader` as the archive's source under `label` and measures it; no directory walk.
  void AttachSource(std::unique_ptr<ReadI> reader, const std::wstring& label);
  void OpenFileSource(const std::wstring& path);

  // Lookups (archive.cpp). FindEntry: the entry by name, null when absent; the caller holds
  // directoryLock unless the directory is loaded.
  const ZipEntry* FindEntry(const std::wstring& name) const;
  // For reading: throws AZ_ERROR_INVALID_STATE when closed, walks again while not loaded.
  const ZipEntry* LoadedEntry(const std::wstring& name);
  // info.entry when the directory is loaded, else LoadedEntry(name).
  const ZipEntry* EntryOf(const std::wstring& name, const EntryInfo& info);
  // Where the entry's data lies (any method); false when it does not lie wholly in the source.
  bool DataSpan(const ZipEntry& entry, StoredSpan* span);

  // Reading entries (extract.cpp): what every read of the entry's data checks first, and the
  // absolute offset of its data from its local header.
  void CheckReadable(const ZipEntry& entry) const;
  std::uint64_t DataOffset(const ZipEntry& entry) const;

  // Strict access to the current source for the directory walk and the end-record search,
  // at the walk's own cursor: every short read throws AZError.
  std::uint16_t ReadU16();
  std::uint32_t ReadU32();
  std::uint64_t ReadU64();
  void ReadBytes(void* buffer, std::uint32_t count);
  void SeekTo(std::uint64_t offset, int origin);
  // Moves `count` bytes forward; a move past the end of the source is a read error, so a walk
  // over the directory always advances and always ends.
  void Skip(std::uint64_t count);
  std::uint64_t Tell();
  std::uint64_t SourceSize() const;

  std::wstring path;
  std::uint32_t centralDirectoryDisk = 0;
  std::uint64_t centralDirectoryOffset = 0;
  std::uint64_t centralDirectorySize = 0;
  std::string comment;
  std::uint16_t commentLength = 0;
  std::vector<ZipVolume> volumes;
  ZipVolume* currentVolume = nullptr;
  std::vector<ZipEntry*> entries;
  std::deque<ZipEntry> entryStore;  // the records `entries` points to, allocated in blocks
  std::uint32_t totalEntries = 0;
  std::unique_ptr<ReadI> reader;
  // Set (release) only at the end of a walk that reached the end record, under
  // directoryLock; read without the lock by lookups that then need none.
  std::atomic<bool> loaded{false};
  mutable std::mutex directoryLock;
  std::uint64_t cursor = 0;  // the walk's position in the source
  // The walk's read-ahead (ReadBytes), released when the walk ends.
  std::vector<unsigned char> window;
  std::uint64_t windowStart = 0;
  std::uint32_t windowLength = 0;
  // True for a source opened from a file: only a file has sibling parts to redirect to.
  bool fileSource = false;
  // True once the split redirect has replaced the source; it happens at most once per open.
  bool redirected = false;
  // The name index: open addressing over positions in `entries` plus one (0 marks a free
  // slot), at most half full, probed from ZipEntry::keyHash; built as the walk reads entries.
  std::vector<std::uint32_t> entryIndex;
  std::size_t indexedCount = 0;
  std::wstring keyBuffer, keyScratch;  // the walk's, reused for every entry
  std::vector<unsigned char> extraBuffer;
  std::unique_ptr<AccessPoints> points;
  // Entries verified in this generation count as verified; a change of the file starts the next.
  std::atomic<std::uint32_t> generation{1};
  std::mutex stampLock;
  bool stamped = false;
  std::uint64_t stampSize = 0;
  std::uint64_t stampTime = 0;
};

}  // namespace amzip
