// The four status LEDs, through the kernel's LED class in sysfs.
#pragma once

enum LedMode { kLedOn = 0, kLedOff = 1, kLedBlink = 2 };

// Sets the trigger of "ubnt:<led_name>"; blinking also waits the program's
// pause and then sets an off time of 1500 ms.
void led_switch(int mode, const char* led_name);
// LED 1 "orange:link2", 2 "red:link1", 3 "green:link3", 4 "green:link4".
void led_config(int number, int mode);

void trigger_led();  // green pair blinking, red off
void leds_green_off();
void leds_green_blink();
