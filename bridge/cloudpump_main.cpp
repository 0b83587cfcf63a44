// cloudpump: puts the newest lidar packet into the shared block "brenic-shm v5" until Ctrl-C.
// Reads "config.json" from the working directory; its arguments are in command_line.cpp.
#include "command_line.h"

int main(int argc, char** argv) { return kesto::bridge::CloudpumpMain(argc, argv); }
