#include "cli/entry.h"

int main(int argc, char** argv) { return mapclean_main(argc, argv); }
