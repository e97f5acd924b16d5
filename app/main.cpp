// kestrav: the command line over the search.
#include <cstdio>

#include "app/cli.hpp"

int main(int argc, char** argv) { return kestrav::runCommandLine(argc, argv, stdout, stderr); }
