// The exact solver's entry point.
#include <exception>
#include <iostream>
#include <new>

#include "attack_flow_solve/SolveProgram.h"

int main(int argc, char** argv) {
  try {
    return solver::RunProgram(argc, argv, std::cout, std::cerr);
  } catch (const std::bad_alloc&) {
    std::cerr << "attack_flow_solve: out of memory" << std::endl;
  } catch (const std::exception& e) {
    std::cerr << "attack_flow_solve: " << e.what() << std::endl;
  } catch (...) {
    std::cerr << "attack_flow_solve: unexpected failure" << std::endl;
  }
  return 1;
}
