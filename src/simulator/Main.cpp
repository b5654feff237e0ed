// The simulator's entry point: build the simulator from the command line,
// run it, and tear it down.
#include <iostream>
#include <memory>
#include <new>

#include "base/StandardErrors.h"
#include "network/TarvexProcess.h"
#include "simulator/SimulatorClass.h"

int main(int argc, char** argv) {
  // SIGINT and SIGTERM (a cluster job's time limit) only raise a flag: the
  // run stops after the current replication with whole files. Interrupted
  // reads and writes resume by themselves.
  TarvexProcess::InstallTerminationHook(true);
  try {
    int status = 0;
    std::unique_ptr<SimulatorClass> simulator = SimulatorClass::Create(argc, argv, &status);
    if (!simulator) return status;
    std::cout << "SIMULATOR::Preparing to run()" << std::endl;
    simulator->Run();
    status = simulator->ExitStatus;
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
