#include "commands/Wren0600.h"

int main(int argc, char** argv) { return Wren0600_Main(argc, argv); }
