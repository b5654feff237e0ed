// The affects lists of attack_flow: one relation under both algorithms, the
// order each one gives.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

#include "model/attack_flowKORVEL.h"
#include "rewards/PVModel.h"
#include "simulator/SimTestSupport.h"

namespace {

using V = std::vector<BaseActionClass*>;

std::vector<V> snapshot(SimulatorClass& sim) {
  std::vector<V> lists;
  for (int i = 0; i < sim.pvModel->getNumActions(); i++) lists.push_back(sim.pvModel->getActions()[i]->AffectsList);
  return lists;
}

}  // namespace

TEST(ConnectivityTest, BothAlgorithmsOnAttackFlow) {
  const char* saved = std::getenv("SIMTEST");
  std::string savedValue = saved ? saved : "";
  unsetenv("SIMTEST");
  auto sim = simtest::makeSimulator();
  auto* model = static_cast<attack_flowKORVEL*>(sim->pvModel->getChildModel());
  BaseGroupClass** g = model->GroupList;
  ASSERT_EQ(sim->NumUnits, 10);

  // Current algorithm, lists built front-first (own unit last). A decision:
  // own unit 9, then its Chosen variable enables outcome unit d.
  // EvilTwinSuccess: own 1; MakeDecision -> 9; MITM -> 1; NetworkKey ->
  // RogueAP 3, PasswordCapture 7. BlockTrafficFlowSuccess: 4, 9, MITM -> 1,
  // Hijacking -> 6. PasswordCaptureSuccess: 7, 9, NetworkKey -> 3.
  std::vector<V> current = snapshot(*sim);
  for (int d = 0; d < 9; d++) EXPECT_EQ(model->Decisions[d]->AffectsList, (V{g[d], g[9]})) << d;
  EXPECT_EQ(model->Steps[0]->AffectsList, (V{g[9], g[0]}));
  EXPECT_EQ(model->Steps[2]->AffectsList, (V{g[7], g[3], g[9], g[1]}));
  EXPECT_EQ(model->Steps[7]->AffectsList, (V{g[6], g[1], g[9], g[4]}));
  EXPECT_EQ(model->Steps[13]->AffectsList, (V{g[3], g[9], g[7]}));
  EXPECT_EQ(model->Steps[14]->AffectsList, (V{g[9], g[8]}));

  // The earlier algorithm walks the arcs from the enabled side. With the
  // table (SIMTEST 1) lists are built front-first, with the scan (SIMTEST
  // 0) appended in discovery order. EvilTwinSuccess receives, in action
  // order, 9 (the decisions), 1 (its own steps), 3 and 7 (through
  // NetworkKey).
  sim->DestructConnectivityList();
  for (const V& list : snapshot(*sim)) EXPECT_TRUE(list.empty());
  setenv("SIMTEST", "1", 1);
  EXPECT_EQ(sim->GenerateConnectivityListOld(), 0);
  std::vector<V> table = snapshot(*sim);
  for (int d = 0; d < 9; d++) EXPECT_EQ(model->Decisions[d]->AffectsList, (V{g[d], g[9]})) << d;
  EXPECT_EQ(model->Steps[2]->AffectsList, (V{g[7], g[3], g[1], g[9]}));
  sim->DestructConnectivityList();
  setenv("SIMTEST", "0", 1);
  EXPECT_EQ(sim->GenerateConnectivityListOld(), 0);
  std::vector<V> scan = snapshot(*sim);
  for (int d = 0; d < 9; d++) EXPECT_EQ(model->Decisions[d]->AffectsList, (V{g[9], g[d]})) << d;
  EXPECT_EQ(model->Steps[2]->AffectsList, (V{g[9], g[1], g[3], g[7]}));
  if (saved)
    setenv("SIMTEST", savedValue.c_str(), 1);
  else
    unsetenv("SIMTEST");

  // The same sets everywhere, each unit at most once.
  ASSERT_EQ(current.size(), 24u);
  for (size_t i = 0; i < current.size(); i++) {
    std::set<BaseActionClass*> a(current[i].begin(), current[i].end());
    EXPECT_EQ(a.size(), current[i].size()) << "action " << i;
    EXPECT_EQ(a, std::set<BaseActionClass*>(table[i].begin(), table[i].end())) << "action " << i;
    EXPECT_EQ(a, std::set<BaseActionClass*>(scan[i].begin(), scan[i].end())) << "action " << i;
    EXPECT_EQ(table[i].size(), a.size());
    EXPECT_EQ(scan[i].size(), a.size());
  }
  sim->DestructConnectivityList();
  EXPECT_EQ(sim->GenerateConnectivityList(), 0);
  EXPECT_EQ(snapshot(*sim), current);
}
