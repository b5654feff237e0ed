#include "rewards/PerformanceVariableWorker.h"

#include <iostream>

void PerformanceVariableWorker::CurrentReward() {
  std::cerr << "!! Calling PerformanceVariableWorker::CurrentReward()" << std::endl;
}
