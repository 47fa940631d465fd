#include "common/leds.h"

#include "common/host.h"
#include "common/output.h"
#include "common/profile.h"
#include "common/text.h"

namespace {

const char* const kLedNames[] = {"orange:link2", "red:link1", "green:link3", "green:link4"};

}  // namespace

void led_switch(int mode, const char* led_name) {
  FixedText<256> path;
  path.format("/sys/class/leds/ubnt:%s/trigger", led_name);
  const char* trigger = mode == kLedOn ? "default-on" : mode == kLedOff ? "none" : mode == kLedBlink ? "timer" : "";
  if (*trigger) {
    host_write_file(path, trigger);
  } else if (FILE* f = host_fopen(path, "w")) {
    fclose(f);  // an unknown mode empties the trigger file
  }
  if (mode != kLedBlink) return;
  // The kernel creates delay_off only once the timer trigger is in place.
  host().sleep(profile().led_blink_pause);
  path.format("/sys/class/leds/ubnt:%s/delay_off", led_name);
  if (host_write_file(path, "1500") != 0 && profile().led_perror) err_perror("fopen");
}

void led_config(int number, int mode) {
  const char* name = number >= 1 && number <= 4 ? kLedNames[number - 1] : "";
  led_switch(mode, name);
}

void trigger_led() {
  led_config(3, kLedBlink);
  led_config(4, kLedBlink);
  led_config(2, kLedOff);
}

void leds_green_off() {
  led_config(3, kLedOff);
  led_config(4, kLedOff);
}

void leds_green_blink() {
  led_config(3, kLedBlink);
  led_config(4, kLedBlink);
}
