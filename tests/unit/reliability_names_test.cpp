// Names Windows opens as devices in any folder, which the Windows launcher refuses as members.
#include <gtest/gtest.h>

#include "container/names.h"

namespace {

struct DeviceCase {
  const char* name;
  bool device;
};

TEST(WindowsDeviceNameTest, DeviceNamesWithAnyExtensionOrCaseAndNothingElse) {
  const DeviceCase cases[] = {
      {"NUL", true},       {"nul", true},       {"nul.txt", true},  {"Con", true},       {"PRN.log", true},
      {"aux", true},       {"AUX .txt", true},  {"COM1", true},     {"com9.bin", true},  {"LPT1", true},
      {"lpt9.tar.gz", true}, {"NUL ", true},
      {"NULL", false},     {"xNUL", false},     {"CONSOLE", false}, {"COM0", false},     {"COM10", false},
      {"LPT", false},      {"COMA", false},     {"data.nul", false}, {".NUL", false},    {"CO", false},
      {"probe.exe", false}, {"", false},
  };
  for (const DeviceCase& c : cases) EXPECT_EQ(IsWindowsDeviceName(c.name), c.device) << "'" << c.name << "'";
}

}  // namespace
