// AZError's texts for a person.
#include <gtest/gtest.h>

#include "amzip/error.h"

namespace {

using amzip::AZError;

struct MessageCase {
  std::int32_t code;
  std::int32_t detail;
  const wchar_t* fileName;
  const wchar_t* message;
};

const MessageCase kMessages[] = {
    {-1, 0, L"", L"Unknown error"},
    {-1, 1234, L"", L"Unknown error"},
    {0, 0, L"", L"No error"},
    {1, 0, L"", L"Invalid state"},
    {2, 0, L"", L"Invalid argument"},
    {3, 0, L"", L"Failed to create file"},
    {4, 2, L"", L"Failed to open file for reading"},
    {5, 0, L"", L"Read error"},
    {5, 0, L"a.zip", L"Read error\nFile: a.zip"},
    {6, 0, L"", L"Write error"},
    {7, 0, L"", L"Seek error"},
    {8, 0, L"", L"System-error:"},
    {8, 5, L"", L"System-error: 5"},
    {9, 0, L"", L"Internal compression error"},
    {9, -3, L"", L"Internal compression error\ndata error"},
    {9, -3, L"a.zip", L"Internal compression error\ndata error"},
    {9, -5, L"", L"Internal compression error\nbuffer error"},
    {9, 1234, L"", L"Internal compression error"},  // not a zlib result: no second line
    {10, 0, L"", L"ZIP64 features are required but disabled"},
    {11, 0, L"", L"UTF-8 features are required but disabled"},
    {12, 0, L"", L"Filename length exceeds 64kb"},
    {13, 0, L"", L"Error in central directory record"},
    {14, 0, L"", L"Unknown compression type"},
    {15, 0, L"", L"Unknown signature"},
    {15, 0x08074b50, L"", L"Unknown signature 08074b50"},
    {15, static_cast<std::int32_t>(0xFFFFFFFF), L"x", L"Unknown signature ffffffff\nFile: x"},
    {16, 0, L"", L"File already exists"},
    {17, 0, L"", L"Error 17"},
    {18, 0, L"", L"AZ_ERROR_GETSTREAMINFO"},
    {19, 0, L"", L"Error 19"},
    {-2, 0, L"", L"Error -2"},
    {-2, 0, L"b.zip", L"Error -2\nFile: b.zip"},
};

class AZErrorMessage : public testing::TestWithParam<MessageCase> {};

TEST_P(AZErrorMessage, IsTheTableText) {
  const MessageCase& c = GetParam();
  const AZError error(c.code, c.detail, c.fileName);
  EXPECT_EQ(error.Message(), c.message);
  // Copies carry all three fields.
  const AZError copy = error;
  EXPECT_EQ(copy.code, c.code);
  EXPECT_EQ(copy.detail, c.detail);
  EXPECT_EQ(copy.fileName, c.fileName);
}

INSTANTIATE_TEST_SUITE_P(Codes, AZErrorMessage, testing::ValuesIn(kMessages));

}  // namespace
