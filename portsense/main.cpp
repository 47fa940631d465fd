// portsense: settles the node's role when the wired uplink changes.
#include "portsense/program.h"

int main(int argc, char** argv) { return portsense_main(argc, argv); }
