// fleetlink_supervisor: the node's dashboard controller.
#include "controller/program.h"

int main(int argc, char** argv) { return fleetlink_supervisor_main(argc, argv); }
