// The executable: everything else lives in the ryx_core library.
#include "main.h"

int main(int argc, char** argv) { return ry_main(argc, argv); }
