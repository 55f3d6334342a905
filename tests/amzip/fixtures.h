// The archives made by make_fixtures.py (in the folder given at configure time, or in
// $ORVANE_AMZIP_FIXTURES), and small helpers shared by the archive reader's tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "amzip/archive.h"
#include "amzip/error.h"

// The full path of a file of the fixture folder, e.g. FixturePath("real/bsdtar.zip").
std::string FixturePath(const std::string& relative);
std::wstring WideFixturePath(const std::string& relative);
std::vector<unsigned char> ReadFixture(const std::string& relative);

// One entry of a real archive as Python's zipfile reads it.
struct ManifestEntry {
  std::string archive;
  std::size_t index;
  std::uint16_t flags;
  std::string rawName;     // the stored name bytes
  std::string pythonName;  // zipfile's name, UTF-8
  std::size_t offset;      // where its bytes lie in the archive's .expected file
  std::size_t length;
};
const std::vector<ManifestEntry>& Manifest();

// Opens the fixture `relative` into `archive`: from `memory` (its bytes, which must outlive the
// archive) when that is not null, else from the file.
void OpenFixture(amzip::ZipArchive& archive, const std::string& relative, const std::vector<unsigned char>* memory);

// Extracts an entry the way the server does: the size, then the bytes. Empty when the entry is
// not there; AZError passes through.
std::optional<std::vector<unsigned char>> ExtractEntry(amzip::ZipArchive& archive, const std::wstring& name);

// Reads an entry through OpenEntry from uncompressed `offset` to its end, in pieces of at most
// `piece` bytes. Empty when the entry is not there; AZError passes through.
std::optional<std::vector<unsigned char>> ReadEntry(amzip::ZipArchive& archive, const std::wstring& name,
                                                    std::uint64_t offset = 0, std::size_t piece = 65536);

std::vector<unsigned char> Bytes(const std::string& text);

// The AZError that `action` throws; a test failure when it throws none.
template <typename Action>
amzip::AZError ThrownBy(Action action) {
  try {
    action();
  } catch (const amzip::AZError& error) {
    return error;
  }
  ADD_FAILURE() << "no AZError was thrown";
  return amzip::AZError(amzip::AZ_ERROR_NONE, 0, std::wstring());
}
