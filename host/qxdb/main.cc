// qxdb: the command-line tool over the xBase engine.
#include <iostream>
#include <string>
#include <vector>

#include "host/qxdb/cli.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  std::vector<std::string> args(argv + 1, argv + argc);
  return qx::qxdb::RunQxdb(args, std::cout, std::cerr, std::cin);
}
