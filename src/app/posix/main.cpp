// Linux entry point of ovra7server: hands the arguments to the portable program.
#include <string>
#include <vector>

#include "app/program.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return app::Ovra7ServerMain(args);
}
