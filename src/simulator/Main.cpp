// The simulator's entry point: build the simulator from the command line,
// run it, and tear it down.
#include <iostream>
#include <memory>
#include <new>

#include "base/StandardErrors.h"
#include "simulator/SimulatorClass.h"

int main(int argc, char** argv) {
  try {
    auto simulator = std::make_unique<SimulatorClass>(argc, argv);
    std::cout << "SIMULATOR::Preparing to run()" << std::endl;
    simulator->Run();
    int status = simulator->ExitStatus;
    if (status == 0) {
      std::cout << "SIMULATOR::MAIN()-GOOD EXIT" << std::endl;
      std::cerr << "SIMULATOR::MAIN()-GOOD EXIT" << std::endl;
    }
    simulator.reset();
    return status;
  } catch (const std::bad_alloc&) {
    MemoryAllocationError();
  }
}
