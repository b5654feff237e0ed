// Action connectivity: for every action, the schedulable units whose enabling
// or timing its firing can change (its own unit and the units of the actions
// enabled by the variables it affects), computed once before the run. The
// order of each list decides the order in which the step re-samples units,
// and so the use of random numbers.
#include <cstdlib>
#include <iostream>
#include <new>
#include <vector>

#include "base/BaseModelClass.h"
#include "rewards/PVModel.h"
#include "simulator/Scheduler.h"
#include "state/BaseStateVariableClass.h"

namespace {

// The "SIMTEST" environment variable as a number; -1 when unset.
int simTest() {
  const char* value = std::getenv("SIMTEST");
  return value ? std::atoi(value) : -1;
}

}  // namespace

int Scheduler::AddActionAffects(BaseActionClass* unit, BaseActionClass* action) {
  try {
    action->AffectsList.insert(action->AffectsList.begin(), unit);
  } catch (const std::bad_alloc&) {
    return 1;
  }
  return 0;
}

int Scheduler::AddActionAffectsOld(BaseActionClass* unit, BaseActionClass* action) {
  for (BaseActionClass* u : action->AffectsList)
    if (u == unit) return 0;
  try {
    action->AffectsList.push_back(unit);
  } catch (const std::bad_alloc&) {
    return 1;
  }
  return 0;
}

void Scheduler::ClearActionAffectsList(BaseActionClass* action) {
  std::vector<BaseActionClass*>().swap(action->AffectsList);
}

void Scheduler::DestructConnectivityList() {
  if (!pvModel) return;
  BaseActionClass** actions = pvModel->getActions();
  for (int i = 0; i < pvModel->getNumActions(); i++) ClearActionAffectsList(actions[i]);
}

int Scheduler::GenerateConnectivityList() {
  BaseActionClass** actions = pvModel->getActions();
  int numActions = pvModel->getNumActions();
  if (numActions <= 0) return 0;

  // marks[unit id] = id of the action whose list last received the unit.
  std::vector<int> marks(BaseActionClass::MaxID + 1, -1);
  auto unitOf = [&](BaseActionClass* a) -> BaseActionClass* {
    if (a->GroupID < 0 || a->GroupID >= NumUnits) return nullptr;
    return Groups[a->GroupID];
  };
  for (int i = 0; i < numActions; i++) {
    BaseActionClass* a = actions[i];
    BaseActionClass* u = unitOf(a);
    if (!u) {
      std::cerr << "!! Action " << a->getName() << " names group " << a->GroupID
                << ", which the model does not have" << std::endl;
      return 1;
    }
    if (marks[u->ID] != a->ID) {
      AddActionAffects(u, a);
      marks[u->ID] = a->ID;
    }
    for (BaseStateVariableClass* s : a->AffectedSVs) {
      for (BaseActionClass* e : *s->getEnabledActions()) {
        BaseActionClass* v = unitOf(e);
        if (!v) {
          std::cerr << "!! Action " << e->getName() << " names group " << e->GroupID
                    << ", which the model does not have" << std::endl;
          return 1;
        }
        if (marks[v->ID] != a->ID) {
          marks[v->ID] = a->ID;
          AddActionAffects(v, a);
        }
      }
    }
  }
  return 0;
}

int Scheduler::GenerateConnectivityListOld() {
  BaseActionClass** actions = pvModel->getActions();
  int numActions = pvModel->getNumActions();
  size_t M = numActions > 0 ? static_cast<size_t>(BaseActionClass::MaxID) + 1 : 1;
  int mode = simTest();
  bool useTable = mode != 0;
  std::vector<unsigned char> table;
  if (useTable) table.assign(M * M, 0);
  if (numActions <= 0) return 0;

  auto add = [&](BaseActionClass* unit, BaseActionClass* receiver) {
    if (!useTable) {
      AddActionAffectsOld(unit, receiver);
      return;
    }
    unsigned char& seen = table[static_cast<size_t>(receiver->ID) * M + unit->ID];
    if (seen) return;
    seen = 1;
    AddActionAffects(unit, receiver);
  };
  for (int i = 0; i < numActions; i++) {
    BaseActionClass* a = actions[i];
    if (a->GroupID < 0 || a->GroupID >= NumUnits) {
      std::cerr << "!! Action " << a->getName() << " names group " << a->GroupID
                << ", which the model does not have" << std::endl;
      return 1;
    }
    BaseActionClass* u = Groups[a->GroupID];
    add(u, a);
    for (BaseStateVariableClass* s : a->EnablingSVs)
      for (BaseActionClass* e : *s->getAffectingActions()) add(u, e);
  }
  return 0;
}

void Scheduler::PrintConnectivityList(std::ostream* out) {
  auto describe = [&](BaseActionClass* a) {
    if (a->Model && a->Model->getName())
      *out << a->Model->getName() << "(" << a->Model->getModelId() << ")->";
    else
      *out << "Unknown Model" << "(" << -1 << ")->";
    *out << a->getName() << " (" << a->ID << ")";
  };
  BaseActionClass** actions = pvModel->getActions();
  for (int i = 0; i < pvModel->getNumActions(); i++) {
    *out << "Action: ";
    describe(actions[i]);
    *out << "\n" << "Checking my Affects" << "\n";
    for (BaseActionClass* u : actions[i]->AffectsList) {
      *out << "    ";
      describe(u);
      *out << "\n";
    }
  }
  out->flush();
}
