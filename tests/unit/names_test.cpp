// The member-name check walked by characters: UTF-8 bytes, and code page 932 with its 0x5C trail bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "container/names.h"

namespace {

bool IsShiftJisLeadByte(unsigned char byte) { return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC); }

std::string Field(const std::string& name) {
  std::string field(NAME_FIELD_SIZE, '\0');
  std::memcpy(&field[0], name.data(), std::min(name.size(), field.size()));
  return field;
}

struct NameCase {
  const char* label;
  std::string name;
  bool plainIn932;
  bool plainAsBytes;
};

class MemberNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(MemberNameTest, WalksByCharacters) {
  const NameCase& c = GetParam();
  std::string field = Field(c.name);
  EXPECT_EQ(IsPlainMemberName(field.data(), IsShiftJisLeadByte), c.plainIn932);
  EXPECT_EQ(IsPlainMemberName(field.data(), nullptr), c.plainAsBytes);
}

// Shift JIS bytes: 表 95 5C, 示 8E A6, ソ 83 5C, フ 83 74, ト 83 67, 予 97 5C, 定 92 E8.
INSTANTIATE_TEST_SUITE_P(
    Names, MemberNameTest,
    ::testing::Values(NameCase{"TrailByte5CInHyouji", "\x95\x5C\x8E\xA6.txt", true, false},
                      NameCase{"TrailByte5CInSofuto", "\x83\x5C\x83\x74\x83\x67.dll", true, false},
                      NameCase{"TrailByte5CInYotei", "\x97\x5C\x92\xE8.dat", true, false},
                      NameCase{"RealSeparatorAfterDoubleByte", "\x95\x5C\\b", false, false},
                      NameCase{"AsciiBackslash", "a\\b", false, false},
                      NameCase{"CutLeadByteAtTheEnd", "abc\x95", false, true},
                      NameCase{"Utf8Japanese", "\xE8\xA1\xA8\xE7\xA4\xBA.txt", true, true},
                      NameCase{"Plain", "readme.txt", true, true},
                      NameCase{"Slash", "a/b", false, false},
                      NameCase{"Colon", "x:stream", false, false},
                      NameCase{"Dot", ".", false, false},
                      NameCase{"DotDot", "..", false, false},
                      NameCase{"DotDotInside", "a..b", true, true},
                      NameCase{"Empty", "", false, false},
                      NameCase{"Longest", std::string(255, 'n'), true, true}),
    [](const ::testing::TestParamInfo<NameCase>& info) { return std::string(info.param.label); });

TEST(MemberNameTest, FieldWithoutNulIsRefused) {
  std::string field(NAME_FIELD_SIZE, 'n');
  EXPECT_FALSE(IsPlainMemberName(field.data(), nullptr));
}

TEST(MemberNameTest, DoubleByteCharacterEndingAtTheFieldsLastByteIsRefused) {
  // 254 single bytes, a lead byte at 254 and its trail byte at 255 leave no room for the NUL.
  std::string field(254, 'n');
  field += "\x95\x5C";
  EXPECT_FALSE(IsPlainMemberName(field.data(), IsShiftJisLeadByte));
}

}  // namespace
