#include "controller/device_identity.h"

#include <gtest/gtest.h>
#include <syslog.h>

#include <cerrno>
#include <string>

#include "controller/testing/controller_test.h"

namespace {

using DeviceIdentityTest = ControllerTest;

}  // namespace

TEST_F(DeviceIdentityTest, FirmwareVersionIsAWholeFirstLine) {
  struct Case {
    const char* name;
    std::string file;  // "" with missing = true: no file
    bool missing;
    int result;
    std::string version;
  };
  const std::string v28(28, '7');
  const Case cases[] = {
      {"plain line", "2.4.1-flx\nsecond line\n", false, 0, "2.4.1-flx"},
      {"28 characters and the line end", v28 + "\n", false, 0, v28},
      {"29 characters: no room for the line end", std::string(29, '7') + "\n", false, 1, "kept"},
      {"no line end", "2.4.1", false, 1, "kept"},
      {"empty file", "", false, 1, "kept"},
      {"empty line", "\n", false, 0, ""},
      {"no file", "", true, 1, "kept"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake.stdout_text.clear();
    if (c.missing) {
      fake.remove("/etc/fw_a_version");
    } else {
      fake.write("/etc/fw_a_version", c.file);
    }
    FixedText<30> out("kept");
    EXPECT_EQ(c.result, read_firmware_version(out));
    EXPECT_EQ(c.version, std::string(out));
    EXPECT_EQ(c.result == 0 ? c.version + "\n" : "", fake.stdout_text);
  }
}

TEST_F(DeviceIdentityTest, IdentityFromUciAndTheVersionFile) {
  fake.uci["node.status.hw"] = "FLX-PICO2HP-REV-B-EXTENDED";  // longer than the field
  fake.write("/etc/fw_a_version", "2.4.1\n");
  DeviceIdentity id;
  EXPECT_EQ(0, load_device_identity(id));
  EXPECT_EQ("FLX-PICO2HP-REV-B-E", std::string(id.hw));
  EXPECT_EQ("2.4.1", std::string(id.firmware));
  std::vector<std::string> debug = logs(LOG_DEBUG);
  ASSERT_EQ(3u, debug.size());
  // The MAC line depends on this machine's eth0.
  EXPECT_TRUE(debug[0].rfind("D_C_I:  Error: ", 0) == 0 || debug[0].rfind("D_C_I: eth0 MAC: ", 0) == 0) << debug[0];
  EXPECT_EQ("D_C_I:Hardware : FLX-PICO2HP-REV-B-E", debug[1]);
  EXPECT_EQ("D_C_I:Firmware Version : 2.4.1", debug[2]);
}

TEST_F(DeviceIdentityTest, MissingFieldsStayEmpty) {
  fake.write("/etc/fw_a_version", "2.4.1");  // no line end
  DeviceIdentity id;
  id.hw.set("old");
  id.firmware.set("old");
  EXPECT_EQ(0, load_device_identity(id));
  EXPECT_EQ("", std::string(id.hw));
  EXPECT_EQ("", std::string(id.firmware));
  std::vector<std::string> debug = logs(LOG_DEBUG);
  ASSERT_EQ(3u, debug.size());
  EXPECT_EQ("D_C_I:Hardware : ", debug[1]);
  EXPECT_EQ("D_C_I:failed to get the firmware version\n", debug[2]);
}
