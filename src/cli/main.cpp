#include <iostream>
#include <string>
#include <vector>

#include "split_command.h"

int main(int argc, char** argv)
{
    return quorvil::RunSplitCommand(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
