#include "cli/cli.h"
#include "platform/platform.h"

int main(int argc, char** argv) { return cli::RunBrankel(plat::CommandLineArguments(argc, argv)); }
