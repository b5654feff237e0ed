// The step of a steady-state run: the same as the terminating step.
#include "simulator/Scheduler.h"

int Scheduler::SimStepSS() { return SimStep(); }
