// A small test-only model for the steady-state loop: one schedulable unit, a
// "ticker", that fires at a fixed list of absolute times and is disabled once
// the list is used up, and a reward model whose steady-state nodes record how
// many ticks had fired when their batch was completed. With a known list of
// firing times, every batch value says exactly when the batch was closed.
#ifndef TARVEX_TESTS_SIMULATOR_STEADYSTATETESTMODEL_H
#define TARVEX_TESTS_SIMULATOR_STEADYSTATETESTMODEL_H

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "base/BaseGroupClass.h"
#include "base/BaseModelClass.h"
#include "rewards/PVModel.h"
#include "rewards/PerformanceVariableNode.h"
#include "rewards/PerformanceVariableWorker.h"

namespace sstest {

class TickerModel;

// Fires at times[0], times[1], ... (absolute, increasing); each firing
// re-examines the ticker itself, which then schedules its next time.
class Ticker : public BaseGroupClass {
 public:
  Ticker(TickerModel* model, std::vector<double> times) : model_(model), times_(std::move(times)) {
    defineName("Ticker");
    GroupID = 0;
    AffectsList.push_back(this);
  }
  bool Enabled() override { return next_ < times_.size(); }
  double SampleDistribution() override { return times_[next_] - (next_ > 0 ? times_[next_ - 1] : 0.0); }
  BaseActionClass* Fire() override;
  double Weight() override { return 1.0; }
  int Rank() override { return 0; }

 private:
  TickerModel* model_;
  std::vector<double> times_;
  size_t next_ = 0;
};

class TickerModel : public BaseModelClass {
 public:
  explicit TickerModel(std::vector<double> times) : ticker_(this, std::move(times)) {
    DefineName("ticker");
    units_[0] = &ticker_;
    actions_[0] = &ticker_;
    Groups = units_;
    NumGroups = 1;
    Actions = actions_;
    NumActions = 1;
  }
  void listModels(const char* name, List<BaseModelClass>* out) override {
    if (name && std::strcmp(name, "ticker") == 0) out->append(this);
  }
  void CurrentState(void* buffer) override { std::memcpy(buffer, &Fired, sizeof Fired); }
  void SetState(void* buffer) override { std::memcpy(&Fired, buffer, sizeof Fired); }
  int StateSize() override { return sizeof Fired; }
  bool CompareState(void* a, void* b) override { return std::memcmp(a, b, sizeof Fired) == 0; }
  void listActions(List<BaseActionClass>* out) override { out->append(actions_, 1); }
  void listActions(const char*, List<BaseActionClass>*) override {}
  void listGroups(List<BaseGroupClass>* out) override { out->append(units_, 1); }
  void listSVs(const char*, const char*, List<BaseStateVariableClass>*, List<BaseModelClass>*) override {}

  int Fired = 0;
  // Called after every firing with the number of ticks fired so far.
  std::function<void(int)> AfterFiring;

 private:
  Ticker ticker_;
  BaseGroupClass* units_[1];
  BaseActionClass* actions_[1];
};

inline BaseActionClass* Ticker::Fire() {
  model_->Fired++;
  next_++;
  if (model_->AfterFiring) model_->AfterFiring(model_->Fired);
  return this;
}

// Reads the number of ticks fired so far.
class TickCountWorker : public PerformanceVariableWorker {
 public:
  double Reward_Function() override { return static_cast<TickerModel*>(ticker)->Fired; }
  void Accumulate(double, double) override {
    Value = Reward_Function();
    Square = Value * Value;
  }
  BaseModelClass* ticker = nullptr;
};

// An instant-of-time node over one window; completing it records the tick
// count at that moment. Steady-state unless told otherwise.
class TickCountNode : public PerformanceVariableNode {
 public:
  TickCountNode(const std::string& name, double start, double stop) {
    TopModelSlot = &TheModel;
    double starts[1] = {start};
    double stops[1] = {stop};
    Initialize(name.c_str(), InstantOfTimeReward, 1, starts, stops, 0, 0, 1, 0);
    AddModelDependency("ticker");
    SteadyStateFlag = 1;
  }
  void CreateWorkerList() override {
    for (int i = 0; i < NumWorkers; i++) {
      auto* w = new TickCountWorker();
      w->ModelSlots.assign(1, &w->ticker);
      w->NumModelSlots = 1;
      Workers[i].reset(w);
    }
  }
  BaseModelClass* TheModel = nullptr;
};

struct Window {
  double start;
  double stop;
};

class TickerReward : public PVModel {
 public:
  TickerReward(std::vector<double> times, std::vector<Window> windows) : windows_(std::move(windows)) {
    ChildModel = new TickerModel(std::move(times));
    DefineName("tickerReward");
    CreatePVList(static_cast<int>(windows_.size()), false);
    Initialize();
  }
  ~TickerReward() override { Destruct(); }
  PerformanceVariableNode* createPVNode(int pv, int) override {
    const Window& w = windows_[pv];
    return new TickCountNode("window" + std::to_string(pv), w.start, w.stop);
  }
  TickerModel* ticker() { return static_cast<TickerModel*>(ChildModel); }

 private:
  std::vector<Window> windows_;
};

}  // namespace sstest

#endif
