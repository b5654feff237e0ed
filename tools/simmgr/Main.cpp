// simmgr: runs studies of a model (the built-in one or a model file) over
// simulator processes, or summarises binary result files. See simmgr --help.
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "simmgr/SimMgr.h"

int main(int argc, char** argv) {
  try {
    std::vector<std::string> args(argv + 1, argv + argc);
    return simmgr::RunSimMgr(args, argc > 0 ? argv[0] : "simmgr", std::cout, std::cerr);
  } catch (const std::bad_alloc&) {
    std::cerr << "simmgr: out of memory" << std::endl;
  } catch (const std::exception& e) {
    std::cerr << "simmgr: internal error: " << e.what() << std::endl;
  }
  return simmgr::kExitFailure;
}
