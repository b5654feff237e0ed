// attack_flow compiled against attack_flow read from models/attack_flow.toml:
// whole replications (with their observations and the reset that follows),
// as replications per second of each, in one run; and a model file with
// global variables.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "rewards/PVModel.h"
#include "simulator/SimulatorClass.h"

namespace {

// A simulator built from a command line, with the state of a terminating
// run just before its first replication.
struct Prepared {
  explicit Prepared(std::vector<std::string> args) : args_(std::move(args)) {
    for (std::string& a : args_) argv_.push_back(&a[0]);
    argv_.push_back(nullptr);
    sim = std::make_unique<SimulatorClass>(static_cast<int>(args_.size()), argv_.data());
    sim->TemplateEvent = std::make_unique<Event>();
    sim->PlaceholderAction = std::make_unique<BaseActionClass>();
    initial.resize(sim->pvModel->StateSize());
    sim->pvModel->CurrentState(initial.data());
    sim->GenerateInitialEnabledList();
  }
  void replicate() {
    sim->SimulateReplication();
    sim->pvModel->SetState(initial.data());
    sim->pvModel->PVReset();
  }
  std::vector<std::string> args_;
  std::vector<char*> argv_;
  std::unique_ptr<SimulatorClass> sim;
  std::vector<char> initial;
};

void Replications(benchmark::State& state, std::vector<std::string> args) {
  Prepared p(std::move(args));
  for (auto _ : state) p.replicate();
  state.SetItemsProcessed(state.iterations());
}

void BM_CompiledModel(benchmark::State& state) { Replications(state, {"bench", "-N", "1"}); }
BENCHMARK(BM_CompiledModel);

void BM_FileModel(benchmark::State& state) {
  Replications(state, {"bench", "-N", "1", "-M", TARVEX_SOURCE_DIR "/models/attack_flow.toml"});
}
BENCHMARK(BM_FileModel);

// enterprise's experiment 0 (its globals folded into its formulas).
void BM_FileModelWithGlobals(benchmark::State& state) {
  Replications(state, {"bench", "-N", "1", "-e", "0", "-M",
                       TARVEX_SOURCE_DIR "/models/enterprise.toml"});
}
BENCHMARK(BM_FileModelWithGlobals);

}  // namespace

BENCHMARK_MAIN();
