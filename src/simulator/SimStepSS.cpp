// The step of a steady-state run: the same as the terminating step.
#include "simulator/SimulatorClass.h"

int SimulatorClass::SimStepSS() { return SimStep(); }
