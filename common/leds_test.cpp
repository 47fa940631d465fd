#include "common/leds.h"

#include <gtest/gtest.h>

#include "common/profile.h"
#include "common/testing/fake_host.h"
#include "controller/program.h"
#include "lonely/program.h"
#include "portsense/program.h"

namespace {

class Leds : public ::testing::Test {
 protected:
  Leds() {
    set_profile(kControllerProfile);
    for (const char* led : {"orange:link2", "red:link1", "green:link3", "green:link4"}) {
      fake.write(std::string("/sys/class/leds/ubnt:") + led + "/trigger", "none");
    }
  }
  ~Leds() override { set_profile(kControllerProfile); }
  std::vector<std::string> effects() const {
    std::vector<std::string> out;
    for (const std::string& e : fake.events) {
      if (e.rfind("write ", 0) == 0 || e.rfind("sleep ", 0) == 0) out.push_back(e);
    }
    return out;
  }
  FakeHost fake;
  ScopedHost scope{fake};
};

}  // namespace

TEST_F(Leds, BlinkSetsTimerWaitsThenSetsTheOffTime) {
  set_profile(kControllerProfile);
  led_config(3, kLedBlink);
  EXPECT_EQ((std::vector<std::string>{"write /sys/class/leds/ubnt:green:link3/trigger timer", "sleep 20",
                                      "write /sys/class/leds/ubnt:green:link3/delay_off 1500"}),
            effects());
  EXPECT_EQ("timer", fake.read("/sys/class/leds/ubnt:green:link3/trigger"));
  EXPECT_EQ("1500", fake.read("/sys/class/leds/ubnt:green:link3/delay_off"));
}

TEST_F(Leds, OnOffAndUnknownModes) {
  led_config(2, kLedOn);
  led_config(1, kLedOff);
  led_switch(3, "green:link4");
  EXPECT_EQ((std::vector<std::string>{"write /sys/class/leds/ubnt:red:link1/trigger default-on",
                                      "write /sys/class/leds/ubnt:orange:link2/trigger none"}),
            effects());
  EXPECT_EQ("", fake.read("/sys/class/leds/ubnt:green:link4/trigger"));
}

TEST_F(Leds, LonelyPausesTenSecondsAndReportsAMissingOffTimeFile) {
  set_profile(kLonelyProfile);
  led_switch(kLedBlink, "white:none");
  EXPECT_EQ((std::vector<std::string>{"sleep 10"}), effects());
  EXPECT_EQ("fopen: No such file or directory\n", fake.stderr_text);
}

TEST_F(Leds, ControllerStaysSilentAndBadNumbersChangeNothing) {
  led_switch(kLedBlink, "white:none");
  led_config(5, kLedOn);
  led_config(0, kLedOff);
  EXPECT_EQ((std::vector<std::string>{"sleep 20"}), effects());
  EXPECT_EQ("", fake.stderr_text);
}

TEST_F(Leds, PatternsInOrder) {
  set_profile(kPortsenseProfile);
  trigger_led();
  leds_green_off();
  EXPECT_EQ((std::vector<std::string>{"write /sys/class/leds/ubnt:green:link3/trigger timer", "sleep 20",
                                      "write /sys/class/leds/ubnt:green:link3/delay_off 1500",
                                      "write /sys/class/leds/ubnt:green:link4/trigger timer", "sleep 20",
                                      "write /sys/class/leds/ubnt:green:link4/delay_off 1500",
                                      "write /sys/class/leds/ubnt:red:link1/trigger none",
                                      "write /sys/class/leds/ubnt:green:link3/trigger none",
                                      "write /sys/class/leds/ubnt:green:link4/trigger none"}),
            effects());
}
