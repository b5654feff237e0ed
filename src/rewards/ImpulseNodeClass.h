// ImpulseNodeClass: the base of generated impulse-reward workers, which earn a
// reward each time a watched action fires. No reward of this system is an
// impulse reward; the class keeps the interface that generated reward models
// implement.
#ifndef TARVEX_REWARDS_IMPULSENODECLASS_H
#define TARVEX_REWARDS_IMPULSENODECLASS_H

#include <string>

class BaseActionClass;

class ImpulseNodeClass {
 public:
  ImpulseNodeClass() = default;
  ImpulseNodeClass(const ImpulseNodeClass&) = delete;
  ImpulseNodeClass& operator=(const ImpulseNodeClass&) = delete;
  virtual ~ImpulseNodeClass() = default;

  // A new worker of the same generated class (prototypes create workers).
  virtual ImpulseNodeClass* Clone() = 0;
  // The impulse earned by a firing of the watched action.
  virtual double Impulse_Function() = 0;
  // Accounts for the time from lastTime to now.
  virtual void Accumulate(double now, double lastTime) = 0;
  // End of a replication at time now.
  virtual void EndAccumulate(double now) = 0;
  // Evaluates the impulse for a firing of the given action.
  virtual double Evaluate(BaseActionClass* action) = 0;
  // The value accumulated so far (added to the node's observation).
  virtual double AccumulatedValue() = 0;

  void Reset() {
    Value = 0.0;
    Square = 0.0;
  }
  void DefineName(const char* name, int impulse, int index) {
    Name = name ? name : "";
    ImpulseNumber = impulse;
    WorkerIndex = index;
  }
  static double min(double a, double b) { return a < b ? a : b; }
  static double max(double a, double b) { return a > b ? a : b; }

  std::string Name;
  int WorkerIndex = -1;
  int ImpulseNumber = -1;
  int NumModelDeps = 0;
  double Value = 0.0;
  double Square = 0.0;
};

#endif
