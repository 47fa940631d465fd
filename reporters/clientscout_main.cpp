// clientscout: reports the Wi-Fi clients of the two access points every minute.
#include "reporters/clientscout.h"

int main() { return clientscout_main(kClientscoutNode); }
