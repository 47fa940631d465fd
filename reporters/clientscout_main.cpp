// clientscout: reports the Wi-Fi clients of the two access points every minute.
#include "common/wifi_kernel.h"
#include "reporters/clientscout.h"

int main() {
  set_kernel(&wifi_kernel());
  return clientscout_main();
}
