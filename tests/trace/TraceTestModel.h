// Small models for the trace tests, built from the framework classes alone
// (the trace tests do not link the generated attack_flow model). The atomic
// model repeats attack_flow's pattern on one attack step: a decision that
// consumes MakeDecision and marks its Chosen variable, and an outcome step in
// a group that applies the effect and asks for the next decision.
#ifndef TARVEX_TESTS_TRACE_TRACETESTMODEL_H
#define TARVEX_TESTS_TRACE_TRACETESTMODEL_H

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/BaseGroupClass.h"
#include "base/BaseModelClass.h"
#include "rewards/PVModel.h"
#include "state/SharableSV.h"

class TestSV : public SharableSV<short> {
 public:
  TestSV(const char* name, const char* prefix, short value) : SharableSV<short>(name, prefix) {
    *Value = value;
  }
  void set(short v) { *Value = v; }
};

// An action (a group without members, as the formalism's actions are).
class TestAction : public BaseGroupClass {
 public:
  TestAction(const char* name, std::function<void()> effect) : effect_(std::move(effect)) {
    defineName(name);
  }
  BaseActionClass* Fire() override {
    effect_();
    return this;
  }

 private:
  std::function<void()> effect_;
};

class TestModelBase : public BaseModelClass {
 public:
  void listModels(const char*, List<BaseModelClass>*) override {}
  void CurrentState(void*) override {}
  void listActions(List<BaseActionClass>*) override {}
  void listGroups(List<BaseGroupClass>*) override {}
  void SetState(void*) override {}
  int StateSize() override { return 0; }
  bool CompareState(void*, void*) override { return true; }
  void listActions(const char*, List<BaseActionClass>*) override {}
  void listSVs(const char*, const char*, List<BaseStateVariableClass>*,
               List<BaseModelClass>*) override {}
};

class TestAtomicModel : public TestModelBase {
 public:
  explicit TestAtomicModel(const char* name) {
    if (name) DefineName(name);
  }
  TestSV* addSV(const char* name, short value, const char* prefix = "") {
    svs_.emplace_back(new TestSV(name, prefix, value));
    svPtrs_.push_back(svs_.back().get());
    NumStateVariables = static_cast<int>(svPtrs_.size());
    return svs_.back().get();
  }
  TestAction* addAction(const char* name, std::vector<TestSV*> enabling,
                        std::vector<TestSV*> affected, std::function<void()> effect) {
    actions_.emplace_back(new TestAction(name, std::move(effect)));
    TestAction* a = actions_.back().get();
    a->Model = this;
    actionPtrs_.push_back(a);
    Actions = actionPtrs_.data();
    NumActions = static_cast<int>(actionPtrs_.size());
    for (TestSV* sv : affected) AddAffectArc(sv, a);
    for (TestSV* sv : enabling) AddEnableArc(sv, a);
    return a;
  }
  // A group standing for its members (not one of the model's actions).
  BaseGroupClass* addGroup(const char* name, std::vector<TestAction*> members) {
    groups_.emplace_back(new BaseGroupClass());
    BaseGroupClass* g = groups_.back().get();
    g->initialize(static_cast<int>(members.size()), name);
    for (TestAction* m : members) g->appendGroup(m);
    g->Model = this;
    return g;
  }

  BaseStateVariableClass** GetLocalStateVariables(std::ostream*) override { return svPtrs_.data(); }
  int GetModelType() override { return 1; }
  int GetNumberOfChildren() override { return 0; }
  BaseModelClass* GetChild(int) override { return nullptr; }

 private:
  std::vector<std::unique_ptr<TestSV>> svs_;
  std::vector<BaseStateVariableClass*> svPtrs_;
  std::vector<std::unique_ptr<TestAction>> actions_;
  std::vector<BaseActionClass*> actionPtrs_;
  std::vector<std::unique_ptr<BaseGroupClass>> groups_;
};

// A composed model: submodels joined over shared variables.
class TestJoinModel : public TestModelBase {
 public:
  explicit TestJoinModel(const char* name) { DefineName(name); }
  ~TestJoinModel() override {
    for (BaseModelClass* c : children_) delete c;
  }
  void addChild(BaseModelClass* c) { children_.push_back(c); }
  void addShared(BaseStateVariableClass* sv) {
    shared_.push_back(sv);
    NumStateVariables = static_cast<int>(shared_.size());
  }
  BaseStateVariableClass** GetSharedStateVariables() override { return shared_.data(); }
  int GetModelType() override { return 2; }
  int GetNumberOfChildren() override { return static_cast<int>(children_.size()); }
  BaseModelClass* GetChild(int i) override { return children_[i]; }

 private:
  std::vector<BaseModelClass*> children_;
  std::vector<BaseStateVariableClass*> shared_;
};

// A reward model without performance variables around a child model, which
// it owns.
class TestPVModel : public PVModel {
 public:
  explicit TestPVModel(BaseModelClass* child) {
    ChildModel = child;
    DefineName("rewardPVModel");
  }
  PerformanceVariableNode* createPVNode(int, int) override { return nullptr; }
};

// The one-step attack model: MakeDecision enables ScanDecision, which marks
// ScanChosen; ScanChosen enables ScanSuccessStep (the member of ScanGroup),
// which sets target.Scanned and asks for the next decision.
struct ScanModel {
  TestAtomicModel* model;
  TestSV *makeDecision, *chosen, *weight, *scanned;
  TestAction *decision, *step;
  BaseGroupClass* group;
  std::unique_ptr<TestPVModel> pv;

  ScanModel() : model(new TestAtomicModel("attack_flow")), pv(new TestPVModel(model)) {
    makeDecision = model->addSV("MakeDecision", 1);
    chosen = model->addSV("ScanChosen", 0);
    weight = model->addSV("ScanWeight", 1);
    scanned = model->addSV("Scanned", 0, "target");
    decision =
        model->addAction("ScanDecision", {makeDecision}, {makeDecision, chosen, weight}, [this] {
          makeDecision->set(0);
          weight->set(0);
          chosen->set(1);
        });
    step = model->addAction("ScanSuccessStep", {chosen, scanned}, {makeDecision, chosen, scanned},
                            [this] {
                              chosen->set(0);
                              scanned->set(1);
                              makeDecision->set(1);
                            });
    group = model->addGroup("ScanGroup", {step});
  }
};

// Replaces every "{key}" of the text by its value.
inline std::string fill(std::string text, const std::map<std::string, std::string>& values) {
  for (const auto& kv : values) {
    const std::string key = "{" + kv.first + "}";
    for (size_t at = text.find(key); at != std::string::npos;
         at = text.find(key, at + kv.second.size()))
      text.replace(at, key.size(), kv.second);
  }
  return text;
}

#endif
