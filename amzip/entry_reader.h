// The two EntryReaders behind ZipArchive::OpenEntry and Extract (entry_reader.cpp).
#pragma once

#include <cstdint>
#include <memory>

#include "amzip/archive.h"

namespace amzip {

class AccessPoints;
class ReadI;

// A reader of `entry` (stored or deflated; its sizes already found possible) whose data starts
// at absolute `dataOffset` of `source`, delivering from uncompressed `offset` on. It copies what
// it needs of the entry; a whole checked read marks the entry verified in `generation`, so the
// entry must outlive it, as the source must. A deflated entry's reader starts from and adds to
// `points` when given (they must outlive it too).
std::unique_ptr<EntryReader> NewEntryReader(const ReadI& source, const ZipEntry& entry, std::uint64_t dataOffset,
                                            std::uint64_t offset, std::uint32_t generation,
                                            AccessPoints* points = nullptr);

}  // namespace amzip
