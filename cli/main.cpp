#include <iostream>

#include "cli/run.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return vellum::cli::Run(args, std::cin, std::cout, std::cerr);
}
