// lonely: searches the other channels for the mesh cell.
#include "lonely/program.h"

int main(int argc, char** argv) { return lonely_main(argc, argv); }
