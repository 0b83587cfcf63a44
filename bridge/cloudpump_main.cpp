// cloudpump: puts the newest lidar packet into the shared block "brenic-shm v5" until Ctrl-C.
// Takes no arguments; reads "config.json" from the working directory.
#include "bridge_main.h"

int main() { return kesto::bridge::RunBridge(); }
