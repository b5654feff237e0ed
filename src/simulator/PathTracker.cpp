#include "simulator/PathTracker.h"

#include "base/BaseActionClass.h"
#include "formalism/KORVELModel.h"
#include "formalism/Step.h"
#include "formalism/StepChosen.h"

namespace {

bool endsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

bool PathTracker::Build(BaseActionClass* const* actions, int count, std::string* error) {
  model_ = nullptr;
  for (int i = 0; i < count && !model_; i++)
    if (auto* step = dynamic_cast<Step*>(actions[i])) model_ = step->model;
  if (!model_ || model_->getNumDecisions() == 0) {
    *error = "the model has no attack steps whose paths could be followed";
    return false;
  }
  // Names as the models give them: decision D has the variable "<D>Chosen",
  // the action "<D>AdversaryDecision" and the steps "<D><O>Step".
  std::unordered_map<std::string, int> decisionOf;
  for (int d = 0; d < model_->getNumDecisions(); d++) {
    std::string decision = model_->getStep(d, 0)->chosenSV->getName();
    if (endsWith(decision, "Chosen")) decision.erase(decision.size() - 6);
    decisionOf[decision + "AdversaryDecision"] = d;
    const int outcomes = model_->getStepsPerDecision(d);
    for (int o = 0; o < outcomes; o++) {
      Step* step = model_->getStep(d, o);
      std::string outcome = step->getName();
      if (endsWith(outcome, "Step")) outcome.erase(outcome.size() - 4);
      if (outcome.compare(0, decision.size(), decision) == 0) outcome.erase(0, decision.size());
      Info info;
      info.index = d;
      info.outcome = o;
      info.entry = static_cast<int>(entryNames_.size());
      info.alone = outcomes == 1;
      info_[step] = info;
      entryNames_.push_back(outcomes == 1 ? decision : decision + ":" + outcome);
    }
  }
  idleEntry_ = static_cast<int>(entryNames_.size());
  entryNames_.push_back(IdleName());
  for (int i = 0; i < count; i++) {
    auto found = decisionOf.find(actions[i]->getName());
    if (found == decisionOf.end()) continue;
    Info info;
    info.decision = true;
    info.index = found->second;
    info_[actions[i]] = info;
  }
  goalNames_.clear();
  for (int g = 0; g < model_->getNumGoals(); g++) goalNames_.push_back(model_->getGoal(g)->getName());
  scratch_.assign(model_->ImageBound() > 0 ? model_->ImageBound() : 1, '\0');
  return true;
}

void PathTracker::Begin(Walk* walk) const {
  walk->node = 0;
  walk->cost = 0.0;
  walk->undetected = 1.0;
  walk->times.clear();
  walk->pending.clear();
  walk->goalTimes.assign(goalNames_.size(), -1.0);
  for (int g = 0; g < model_->getNumGoals(); g++)
    if (model_->getGoal(g)->getMark() == 1) walk->goalTimes[g] = 0.0;
  walk->image.assign(scratch_.size(), '\0');
  walk->image.resize(model_->CaptureImage(&walk->image[0]));
}

int PathTracker::Child(int node, int entry) {
  const uint64_t key = (static_cast<uint64_t>(node) << 32) | static_cast<uint32_t>(entry);
  auto found = children_.find(key);
  if (found != children_.end()) return found->second;
  const int child = static_cast<int>(parent_.size());
  parent_.push_back(node);
  entry_.push_back(entry);
  children_.emplace(key, child);
  return child;
}

void PathTracker::Fired(Walk* walk, const BaseActionClass* action, double time) {
  auto found = info_.find(action);
  if (found == info_.end()) return;
  const Info& info = found->second;
  if (info.decision) {
    // Taken in the state its outcome step will find: cost and detections
    // are those of this moment.
    const int outcomes = model_->getStepsPerDecision(info.index);
    walk->cost += model_->getStep(info.index, 0)->getCost();
    walk->pending.resize(outcomes);
    for (int o = 0; o < outcomes; o++)
      walk->pending[o] = model_->getStep(info.index, o)->getDetection();
    return;
  }
  const double detection = info.outcome < static_cast<int>(walk->pending.size())
                               ? walk->pending[info.outcome]
                               : model_->getStep(info.index, info.outcome)->getDetection();
  walk->pending.clear();

  const int size = model_->CaptureImage(&scratch_[0]);
  const bool unchanged =
      size == static_cast<int>(walk->image.size()) && walk->image.compare(0, size, scratch_, 0, size) == 0;
  if (info.alone && unchanged) {
    // Doing nothing: the first such firing opens the idle entry, the
    // others belong to it. It is no attempt, so its detection (a model
    // may give it one to keep the look-ahead away from idling) is not
    // counted.
    if (entry_[walk->node] != idleEntry_) {
      walk->node = Child(walk->node, idleEntry_);
      walk->times.push_back(time);
    }
    return;
  }
  walk->undetected *= 1.0 - detection;
  walk->node = Child(walk->node, info.entry);
  walk->times.push_back(time);
  walk->image.assign(scratch_, 0, size);
  for (int g = 0; g < model_->getNumGoals(); g++)
    if (walk->goalTimes[g] < 0.0 && model_->getGoal(g)->getMark() == 1) walk->goalTimes[g] = time;
}

void PathTracker::Merge(Walk* a, double wa, const Walk& b, double wb) {
  const double total = wa + wb;
  if (!(total > 0.0)) return;
  // Equal values stay exact (fixed delays give every branch of a path the
  // same times).
  auto mean = [&](double x, double y) { return x == y ? x : (x * wa + y * wb) / total; };
  a->cost = mean(a->cost, b.cost);
  a->undetected = mean(a->undetected, b.undetected);
  for (size_t i = 0; i < a->times.size() && i < b.times.size(); i++)
    a->times[i] = mean(a->times[i], b.times[i]);
  // The same path reaches the same goals; only when may differ.
  for (size_t g = 0; g < a->goalTimes.size() && g < b.goalTimes.size(); g++)
    if (a->goalTimes[g] >= 0.0 && b.goalTimes[g] >= 0.0)
      a->goalTimes[g] = mean(a->goalTimes[g], b.goalTimes[g]);
}

std::vector<std::string> PathTracker::Entries(int node) const {
  std::vector<std::string> names;
  for (int n = node; n > 0; n = parent_[n]) names.push_back(entryNames_[entry_[n]]);
  return std::vector<std::string>(names.rbegin(), names.rend());
}
