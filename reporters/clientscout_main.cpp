// clientscout: reports the Wi-Fi clients of the two access points every minute.
#include "reporters/clientscout_program.h"

int main(int argc, char** argv) { return clientscout_main(argc, argv); }
