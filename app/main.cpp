#include "app/ListCommand.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    std::ios::sync_with_stdio(false);
    const std::vector<std::string> args(argv + 1, argv + argc);
    for (const std::string& a : args)
        if (a == "--list")
            return tarnel::RunListCommand(args, std::cout, std::cerr);
    std::cerr << "usage: tarnel --list DIR [--filter PATTERN] [--sort name|size|type|time|desc]"
                 " [--descending] [--sizes] [--bytes]\n";
    return 2;
}
