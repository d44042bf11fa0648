// Inspects the built stubs as files: format, subsystem, imports, every Windows resource, no signature text; reads only.
// Which stub is examined comes from the environment that tests/image/stubs.cmake sets for each test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <set>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "image_reader.h"

namespace {

constexpr uint32_t RT_ICON = 3, RT_STRING = 6, RT_GROUP_ICON = 14, RT_VERSION = 16, RT_MANIFEST = 24, RT_LANGUAGE_ID = 255;
constexpr uint32_t LANG_JAPANESE = 0x0411, LANG_ENGLISH_US = 0x0409;

struct MessageText {
  uint32_t id;
  const char* text;
};

const MessageText MESSAGES[] = {
#define SFXRUN_MESSAGE(id, name, text) {id, text},
#include "messages.def"
#undef SFXRUN_MESSAGE
};

std::string EnvironmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// The stub under test; a missing file is a failure, never a skip, so an absent build cannot pass.
Bytes LoadStub() {
  std::string path = EnvironmentValue("SFXRUN_INSPECT_STUB");
  if (path.empty()) ADD_FAILURE() << "SFXRUN_INSPECT_STUB is not set";
  return ReadWholeFile(path);
}

std::string StubKind() { return EnvironmentValue("SFXRUN_INSPECT_KIND"); }

std::string SourceFile(const std::string& name) {
  Bytes b = ReadWholeFile(std::string(SFXRUN_RESOURCES_DIR) + "/" + name);
  return std::string(b.begin(), b.end());
}

std::string AsText(const Bytes& b) { return std::string(b.begin(), b.end()); }

class PeStub : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NO_THROW(image = ReadPeImage(LoadStub())); }

  const PeResource* Find(uint32_t type, uint32_t id) const {
    for (const PeResource& r : image.resources)
      if (r.type == type && r.id == id && !r.namedType && !r.namedId) return &r;
    return nullptr;
  }

  PeImage image;
};

TEST_F(PeStub, IsAGuiProgramOfItsMachine) {
  if (StubKind() == "i686") {
    EXPECT_EQ(image.machine, 0x14C);
    EXPECT_EQ(image.magic, 0x10B) << "the i686 stub must be PE32";
  } else {
    EXPECT_EQ(image.machine, 0x8664);
    EXPECT_EQ(image.magic, 0x20B) << "the x86_64 stub must be PE32+";
  }
  EXPECT_EQ(image.subsystem, 2) << "IMAGE_SUBSYSTEM_WINDOWS_GUI";
}

TEST_F(PeStub, ImportsOnlyTheSystemDlls) {
  const std::set<std::string> allowed = {"kernel32.dll", "user32.dll", "shell32.dll", "lz32.dll", "msvcrt.dll"};
  std::string all;
  for (std::string name : image.importedDlls) {
    all += name + " ";
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return (char)std::tolower(c); });
    EXPECT_TRUE(allowed.count(name)) << "imports " << name;
  }
  RecordProperty("imports", all);
  EXPECT_FALSE(image.importedDlls.empty());
}

TEST_F(PeStub, ResourcesAreExactlyTheTable) {
  using Key = std::tuple<uint32_t, uint32_t, uint32_t>;
  const std::vector<Key> expected = {
      {RT_ICON, 1, LANG_JAPANESE},        {RT_ICON, 2, LANG_JAPANESE},        {RT_ICON, 3, LANG_JAPANESE},
      {RT_ICON, 4, LANG_JAPANESE},        {RT_ICON, 5, LANG_JAPANESE},        {RT_STRING, 63, LANG_JAPANESE},
      {RT_GROUP_ICON, 128, LANG_JAPANESE}, {RT_VERSION, 1, LANG_JAPANESE},    {RT_MANIFEST, 1, LANG_ENGLISH_US},
      {RT_MANIFEST, 24, LANG_JAPANESE},   {RT_LANGUAGE_ID, 1, LANG_JAPANESE},
  };
  std::vector<Key> found;
  for (const PeResource& r : image.resources) {
    EXPECT_FALSE(r.namedType || r.namedId) << "a resource named by a string under type " << r.type;
    found.emplace_back(r.type, r.id, r.language);
  }
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, expected);
}

struct IconImageRow {
  uint32_t id;
  uint32_t side;
  uint8_t groupColours;
  uint16_t bits;
  uint32_t bytes;  // 0: the PNG, whose size depends on the artwork
};

const IconImageRow ICON_IMAGES[] = {
    {1, 32, 16, 4, 744}, {2, 16, 16, 4, 296}, {3, 48, 0, 8, 3752}, {4, 32, 0, 8, 2216}, {5, 256, 0, 32, 0},
};

TEST_F(PeStub, IconGroupListsTheFiveImagesInOrder) {
  const PeResource* group = Find(RT_GROUP_ICON, 128);
  ASSERT_TRUE(group);
  const Bytes& g = group->data;
  ASSERT_EQ(g.size(), 6u + 14u * 5u);
  EXPECT_EQ(Le16(g, 0), 0);
  EXPECT_EQ(Le16(g, 2), 1) << "type icon";
  EXPECT_EQ(Le16(g, 4), 5);
  for (size_t i = 0; i < 5; ++i) {
    const IconImageRow& row = ICON_IMAGES[i];
    size_t e = 6 + 14 * i;
    SCOPED_TRACE("group entry " + std::to_string(i + 1));
    EXPECT_EQ(g[e], row.side & 0xFF) << "width (256 is written as 0)";
    EXPECT_EQ(g[e + 1], row.side & 0xFF) << "height";
    EXPECT_EQ(g[e + 2], row.groupColours);
    EXPECT_EQ(g[e + 3], 0) << "reserved";
    EXPECT_EQ(Le16(g, e + 4), 1) << "planes";
    EXPECT_EQ(Le16(g, e + 6), row.bits);
    EXPECT_EQ(Le16(g, e + 12), row.id);
    const PeResource* icon = Find(RT_ICON, row.id);
    ASSERT_TRUE(icon);
    EXPECT_EQ(Le32(g, e + 8), icon->data.size()) << "byte count against the image itself";
    if (row.bytes) {
      EXPECT_EQ(icon->data.size(), row.bytes);
    }
  }
}

TEST_F(PeStub, IconBitmapsCarryHeaderPaletteColourBitsAndMask) {
  for (const IconImageRow& row : ICON_IMAGES) {
    if (row.bits == 32) continue;
    SCOPED_TRACE("icon " + std::to_string(row.id));
    const PeResource* icon = Find(RT_ICON, row.id);
    ASSERT_TRUE(icon);
    const Bytes& d = icon->data;
    ASSERT_GE(d.size(), 40u);
    uint32_t paletteEntries = 1u << row.bits;
    uint32_t xorSize = (row.side * row.bits + 31) / 32 * 4 * row.side, andSize = (row.side + 31) / 32 * 4 * row.side;
    EXPECT_EQ(Le32(d, 0), 40u) << "BITMAPINFOHEADER";
    EXPECT_EQ(Le32(d, 4), row.side);
    EXPECT_EQ(Le32(d, 8), 2 * row.side) << "the height covers colour bits and mask";
    EXPECT_EQ(Le16(d, 12), 1) << "planes";
    EXPECT_EQ(Le16(d, 14), row.bits);
    EXPECT_EQ(Le32(d, 16), 0u) << "uncompressed";
    uint32_t imageSize = Le32(d, 20);
    EXPECT_TRUE(imageSize == 0 || imageSize == xorSize + andSize) << imageSize;
    uint32_t coloursUsed = Le32(d, 32);
    EXPECT_TRUE(coloursUsed == 0 || coloursUsed == paletteEntries) << "the palette is stored full";
    EXPECT_EQ(d.size(), 40 + 4 * paletteEntries + xorSize + andSize);
    EXPECT_EQ(d.size(), row.bytes);
  }
}

TEST_F(PeStub, IconLargestImageIsA256PixelRgbaPng) {
  const PeResource* icon = Find(RT_ICON, 5);
  ASSERT_TRUE(icon);
  const Bytes& d = icon->data;
  const uint8_t signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  ASSERT_GE(d.size(), 33u);
  EXPECT_TRUE(std::equal(signature, signature + 8, d.begin()));
  EXPECT_EQ(AsText(Bytes(d.begin() + 12, d.begin() + 16)), "IHDR") << "IHDR comes first";
  auto be32 = [&](size_t at) { return (uint32_t)d[at] << 24 | (uint32_t)d[at + 1] << 16 | (uint32_t)d[at + 2] << 8 | d[at + 3]; };
  EXPECT_EQ(be32(8), 13u);
  EXPECT_EQ(be32(16), 256u);
  EXPECT_EQ(be32(20), 256u);
  EXPECT_EQ(d[24], 8) << "bits per channel";
  EXPECT_EQ(d[25], 6) << "colour type RGBA";
  std::string tail = AsText(Bytes(d.end() - 8, d.end()));
  EXPECT_EQ(tail.substr(0, 4), "IEND") << "the image ends with its IEND chunk";
}

TEST_F(PeStub, StringTableBlockHoldsTheFourMessages) {
  const PeResource* block = Find(RT_STRING, 63);
  ASSERT_TRUE(block);
  const Bytes& d = block->data;
  size_t at = 0;
  for (uint32_t id = 992; id <= 1007; ++id) {
    SCOPED_TRACE("string " + std::to_string(id));
    uint16_t length = Le16(d, at);
    ASSERT_LE(at + 2 + 2 * (size_t)length, d.size());
    std::vector<uint16_t> units(length);
    for (size_t i = 0; i < length; ++i) units[i] = Le16(d, at + 2 + 2 * i);
    at += 2 + 2 * (size_t)length;
    std::string expected;
    for (const MessageText& m : MESSAGES)
      if (m.id == id) expected = m.text;
    EXPECT_EQ(Utf16ToUtf8(units.data(), units.size()), expected);
    EXPECT_EQ(id >= 1000 && id <= 1003, length != 0) << "only ids 1000 to 1003 carry text";
  }
  EXPECT_EQ(at, d.size()) << "nothing follows the block's sixteen strings";
}

// One node of a VS_VERSIONINFO tree, as the file lays it out.
struct VersionNode {
  size_t start = 0, declaredLength = 0, valueEnd = 0;
  uint16_t valueLength = 0, type = 0;
  std::string key;
  Bytes value;
  std::vector<VersionNode> children;
};

size_t AlignTo4(size_t at) { return (at + 3) & ~(size_t)3; }

// Offsets are from the resource's start, which the loader aligns; the padding rules rely on that.
VersionNode ParseVersionNode(const Bytes& d, size_t start, size_t limit) {
  VersionNode node;
  node.start = start;
  node.declaredLength = Le16(d, start);
  node.valueLength = Le16(d, start + 2);
  node.type = Le16(d, start + 4);
  size_t end = start + node.declaredLength;
  if (node.declaredLength < 6 || end > limit) throw std::runtime_error("version node overruns its parent");
  std::vector<uint16_t> key;
  size_t at = start + 6;
  for (; at + 2 <= end && Le16(d, at) != 0; at += 2) key.push_back(Le16(d, at));
  if (at + 2 > end) throw std::runtime_error("version key without NUL");
  node.key = Utf16ToUtf8(key.data(), key.size());
  at = AlignTo4(at + 2);
  size_t valueBytes = node.type == 1 ? 2 * (size_t)node.valueLength : node.valueLength;
  if (at + valueBytes > end) throw std::runtime_error("version value overruns its node: " + node.key);
  node.value.assign(d.begin() + (long)at, d.begin() + (long)(at + valueBytes));
  node.valueEnd = at + valueBytes;
  for (at = AlignTo4(node.valueEnd); at < end; at = AlignTo4(at + node.children.back().declaredLength))
    node.children.push_back(ParseVersionNode(d, at, end));
  return node;
}

std::string TextValue(const VersionNode& node) {
  std::vector<uint16_t> units;
  for (size_t i = 0; i + 1 < node.value.size(); i += 2) units.push_back((uint16_t)(node.value[i] | node.value[i + 1] << 8));
  if (units.empty() || units.back() != 0) throw std::runtime_error("version text without NUL: " + node.key);
  units.pop_back();
  return Utf16ToUtf8(units.data(), units.size());
}

TEST_F(PeStub, VersionBlockHoldsTheFixedInfoTwelveKeysAndTranslation) {
  const PeResource* version = Find(RT_VERSION, 1);
  ASSERT_TRUE(version);
  const Bytes& d = version->data;
  VersionNode root;
  ASSERT_NO_THROW(root = ParseVersionNode(d, 0, d.size()));
  EXPECT_EQ(root.key, "VS_VERSION_INFO");
  ASSERT_EQ(root.value.size(), 52u) << "VS_FIXEDFILEINFO";
  const Bytes& f = root.value;
  EXPECT_EQ(Le32(f, 0), 0xFEEF04BDu) << "signature";
  const std::pair<size_t, uint32_t> fixedFields[] = {
      {8, 0x00040009}, {12, 0}, {16, 0x00040009}, {20, 0}, {24, 0x3F}, {28, 0}, {32, 0x40004}, {36, 1}, {40, 0}, {44, 0}, {48, 0},
  };
  for (const auto& [offset, value] : fixedFields) EXPECT_EQ(Le32(f, offset), value) << "VS_FIXEDFILEINFO at " << offset;

  ASSERT_EQ(root.children.size(), 2u);
  const VersionNode& stringInfo = root.children[0];
  EXPECT_EQ(stringInfo.key, "StringFileInfo");
  ASSERT_EQ(stringInfo.children.size(), 1u) << "one string table";
  const VersionNode& table = stringInfo.children[0];
  EXPECT_EQ(table.key, "041104b0");

  const std::pair<const char*, const char*> strings[] = {
      {"Comments", ""},
      {"CompanyName", "the sfxrun developers"},
      {"FileDescription", "sfxrun self-extracting launcher"},
      {"FileVersion", "4, 9, 0, 0"},
      {"InternalName", "sfxrun-stub"},
      {"LegalCopyright", "Copyright (C) 2026 the sfxrun developers"},
      {"LegalTrademarks", ""},
      {"OriginalFilename", "sfxrun-stub.exe"},
      {"PrivateBuild", ""},
      {"ProductName", "sfxrun self-extracting launcher"},
      {"ProductVersion", "4, 9, 0, 0"},
      {"SpecialBuild", ""},
  };
  ASSERT_EQ(table.children.size(), std::size(strings));
  for (size_t i = 0; i < std::size(strings); ++i) {
    const VersionNode& s = table.children[i];
    SCOPED_TRACE(s.key);
    EXPECT_EQ(s.key, strings[i].first) << "key " << i;
    EXPECT_EQ(s.type, 1) << "text";
    EXPECT_EQ(TextValue(s), strings[i].second);
    EXPECT_EQ(s.valueLength, std::strlen(strings[i].second) + 1) << "characters stored, the NUL included";
    EXPECT_EQ(s.declaredLength, s.valueEnd - s.start) << "nothing stored after the value's NUL";
  }

  const VersionNode& varInfo = root.children[1];
  EXPECT_EQ(varInfo.key, "VarFileInfo");
  ASSERT_EQ(varInfo.children.size(), 1u);
  EXPECT_EQ(varInfo.children[0].key, "Translation");
  EXPECT_EQ(varInfo.children[0].value, (Bytes{0x11, 0x04, 0xB0, 0x04}));
}

TEST_F(PeStub, ManifestsDeclareOnlyAsInvokerAndTheFiveSystems) {
  const PeResource* first = Find(RT_MANIFEST, 1);
  const PeResource* second = Find(RT_MANIFEST, 24);
  ASSERT_TRUE(first && second);
  const std::string m1 = AsText(first->data), m24 = AsText(second->data);
  EXPECT_EQ(m1, SourceFile("manifest-1.xml"));
  EXPECT_EQ(m24, SourceFile("manifest-24.xml"));

  const std::string declaration = "<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"yes\"?>\n";
  EXPECT_EQ(m24.compare(0, declaration.size(), declaration), 0) << "manifest 24 opens with the declaration";
  EXPECT_EQ(m24.substr(std::min(declaration.size(), m24.size())), m1) << "the same settings in both";
  EXPECT_EQ(m1.find("<?"), std::string::npos) << "manifest 1 has no declaration";

  for (const std::string* m : {&m1, &m24}) {
    ASSERT_FALSE(m->empty());
    EXPECT_EQ((unsigned char)(*m)[0], '<') << "no byte-order mark";
    EXPECT_TRUE(std::all_of(m->begin(), m->end(), [](char c) { return (unsigned char)c < 0x80 && c != 0; }));
    const char* inOrder[] = {
        "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">",
        "<trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\">",
        "<security>",
        "<requestedPrivileges>",
        "<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>",
        "</requestedPrivileges>",
        "</security>",
        "</trustInfo>",
        "<compatibility xmlns=\"urn:schemas-microsoft-com:compatibility.v1\">",
        "<application>",
        "<supportedOS Id=\"{e2011457-1546-43c5-a5fe-008deee3d3f0}\"/>",
        "<supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"/>",
        "<supportedOS Id=\"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}\"/>",
        "<supportedOS Id=\"{1f676c76-80e1-4239-95bb-83d0f6d0da78}\"/>",
        "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>",
        "</application>",
        "</compatibility>",
        "</assembly>",
    };
    size_t at = 0;
    for (const char* tag : inOrder) {
      size_t found = m->find(tag, at);
      EXPECT_NE(found, std::string::npos) << tag << " missing or out of order";
      if (found != std::string::npos) at = found + std::strlen(tag);
    }
    // Every tag is one of the above, so nothing else is declared.
    size_t tags = (size_t)std::count(m->begin(), m->end(), '<') - (m == &m24 ? 1 : 0);
    EXPECT_EQ(tags, std::size(inOrder));
  }
}

TEST_F(PeStub, LanguageResourceHoldsTheJapaneseLanguageId) {
  const PeResource* r = Find(RT_LANGUAGE_ID, 1);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->data, (Bytes{0x11, 0x04, 0x00, 0x00}));
}

TEST(StubImage, HoldsNoSignatureText) {
  Bytes file;
  ASSERT_NO_THROW(file = LoadStub());
  static const char SIGNATURE[] = "ArchiveInstaller";  // the 17 bytes with the NUL that end a container's search
  auto found = std::search(file.begin(), file.end(), SIGNATURE, SIGNATURE + sizeof SIGNATURE);
  EXPECT_EQ(found, file.end()) << "at offset " << (found - file.begin());
}

TEST(ElfStub, NeedsOnlyTheCLibrary) {
  ElfImage image;
  ASSERT_NO_THROW(image = ReadElfImage(LoadStub()));
  EXPECT_EQ(image.elfClass, sizeof(void*) == 8 ? 2 : 1);
  for (const std::string& name : image.needed)
    EXPECT_TRUE(name == "libc.so.6" || name.rfind("ld-linux", 0) == 0) << "needs " << name;
  EXPECT_NE(std::find(image.needed.begin(), image.needed.end(), "libc.so.6"), image.needed.end());
}

TEST(ElfStub, CarriesNoWindowsResources) {
  ElfImage image;
  ASSERT_NO_THROW(image = ReadElfImage(LoadStub()));
  ASSERT_FALSE(image.sectionNames.empty());
  for (const std::string& name : image.sectionNames) EXPECT_NE(name, ".rsrc");
  // Texts that only the compiled resource script holds: its version key in UTF-16 and the manifests' namespace.
  Bytes file = LoadStub();
  const std::string utf16Key("V\0S\0_\0V\0E\0R\0S\0I\0O\0N\0_\0I\0N\0F\0O\0", 30);
  for (const std::string& text : {utf16Key, std::string("urn:schemas-microsoft-com:asm.v1")})
    EXPECT_EQ(std::search(file.begin(), file.end(), text.begin(), text.end()), file.end());
}

}  // namespace
