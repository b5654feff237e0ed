// The reward model of attack_flow: the instant-of-time rules,
// the considered nodes, resets, firing through the reward model, random
// replications against a reference, and the PV type file.
#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "model/attack_flowKORVEL.h"
#include "model/rewardPVModel.h"
#include "support/Process.h"

namespace {

attack_flowKORVEL* childOf(PVModel& m) { return static_cast<attack_flowKORVEL*>(m.getChildModel()); }

// The variables the eight PVs read, in PV order.
std::vector<KORVELStateVariable*> observed(attack_flowKORVEL* m) {
  return {m->NoKeyNoAccess, m->SSIDMACtargetnetwork, m->NetworkKey, m->NetworkAccess,
          m->Hijacking,     m->MITM,                 m->DOS,        m->SensitiveInformation};
}

// Moves a node's (and its worker's) instant to s.
void moveInstant(PerformanceVariableNode* node, double s) {
  node->StartTime = node->StopTime = node->Workers[0]->StartTime = node->Workers[0]->StopTime = s;
}

}  // namespace

TEST(RewardModelTest, InstantOfTimeRules) {
  rewardPVModel m(true);
  KORVELStateVariable* key = childOf(m)->NetworkKey;  // PV 2: nodes 42..62
  BaseActionClass* a = childOf(m)->Steps[13];
  auto keyNode = [&](int i) { return m.getNode(42 + i); };

  // Instant 5, firings at 2 and 7: the state after the firing at 2.
  PerformanceVariableNode* n5 = keyNode(1);
  n5->Accumulate(2, 0, a);
  EXPECT_EQ(n5->NodeState, NodeWaiting);
  key->setMark(1);
  n5->Accumulate(7, 2, a);
  EXPECT_EQ(n5->NodeState, NodeDone);
  EXPECT_EQ(std::make_pair(n5->Value, n5->Square), std::make_pair(1.0, 1.0));
  key->setMark(0);  // ignored once done
  n5->Accumulate(9, 7, a);
  n5->EndAccumulate(100, 7, a);
  EXPECT_EQ(std::make_pair(n5->Value, n5->Square), std::make_pair(1.0, 1.0));
  n5->Reset();
  EXPECT_EQ(n5->NodeState, NodeWaiting);
  EXPECT_EQ(std::make_pair(n5->Value, n5->Square), std::make_pair(0.0, 0.0));

  // A firing exactly at 5: open at 5, then the state after that firing.
  n5->Accumulate(5, 2, a);
  EXPECT_EQ(n5->NodeState, NodeAccumulating);
  key->setMark(2);
  n5->Accumulate(6, 5, a);
  EXPECT_EQ(n5->NodeState, NodeDone);
  EXPECT_EQ(std::make_pair(n5->Value, n5->Square), std::make_pair(2.0, 4.0));

  // Instant 0: open at 0, completed by the next call with the state of 0.
  PerformanceVariableNode* n0 = m.getNode(0);
  n0->Accumulate(0, 0, a);
  EXPECT_EQ(n0->NodeState, NodeAccumulating);
  n0->Accumulate(2, 0, a);
  EXPECT_EQ(n0->NodeState, NodeDone);
  EXPECT_EQ(n0->Value, 1.0);

  // The end of a run at 100 completes instants 100 and 100.5 (a margin of
  // one time unit) with the end state, but not 101.
  key->setMark(1);
  PerformanceVariableNode* n100 = keyNode(20);
  n100->Accumulate(40, 35, a);
  EXPECT_EQ(n100->NodeState, NodeWaiting);
  moveInstant(keyNode(19), 100.5);
  moveInstant(keyNode(18), 101);
  for (int i : {20, 19, 18}) keyNode(i)->EndAccumulate(100, 40, a);
  EXPECT_EQ(std::make_pair(n100->NodeState, n100->Value), std::make_pair(int(NodeDone), 1.0));
  EXPECT_EQ(std::make_pair(keyNode(19)->NodeState, keyNode(19)->Value), std::make_pair(int(NodeDone), 1.0));
  EXPECT_EQ(std::make_pair(keyNode(18)->NodeState, keyNode(18)->Value), std::make_pair(int(NodeAccumulating), 0.0));
  key->setMark(0);
}

TEST(RewardModelTest, ConsideredNodesResetAndFiring) {
  rewardPVModel m(true);
  attack_flowKORVEL* model = childOf(m);
  auto allWaiting = [&] {
    for (int i = 0; i < m.getNumPVs(); i++)
      if (m.getNode(i)->NodeState != NodeWaiting || m.getNode(i)->Value != 0.0) return false;
    return true;
  };
  m.ConsiderOnly(nullptr, 0);
  ASSERT_EQ(m.getConsidered(), std::vector<PerformanceVariableNode*>(m.getNodes(), m.getNodes() + 168));
  int list[2] = {3, 30};  // NoKeyNoAccess at 15, SSIDandMAC at 45
  m.ConsiderOnly(list, 0);
  EXPECT_TRUE(m.getConsidered().empty());
  m.Accumulate(50);
  m.EndAccumulate(100);
  EXPECT_TRUE(allWaiting());
  m.ConsiderOnly(list, 2);
  m.Accumulate(20);
  EXPECT_EQ(std::make_pair(m.getNode(3)->NodeState, m.getNode(3)->Value), std::make_pair(int(NodeDone), 1.0));
  EXPECT_EQ(m.getNode(30)->NodeState, NodeWaiting);
  EXPECT_EQ(m.getNode(0)->NodeState, NodeWaiting);

  // PVReset resets accumulating and done nodes, considered or not, leaves
  // waiting ones alone (the marker value shows Reset was not called) and
  // forgets the last firing.
  m.ConsiderOnly(list, 1);
  m.Accumulate(30);
  m.getNode(4)->Accumulate(20, 0, nullptr);  // accumulating, not considered
  m.getNode(5)->Value = 42.0;                // waiting
  BaseActionClass* fired = m.FireAction(model->GroupList[9], 3.5);
  EXPECT_EQ(fired, model->Decisions[0]);  // the member, not the group
  EXPECT_EQ(m.getLastFiredAction(), model->Decisions[0]);
  EXPECT_EQ(m.LastActionTime, 3.5);
  m.PVReset();
  EXPECT_EQ(m.getNode(5)->Value, 42.0);
  m.getNode(5)->Value = 0.0;
  EXPECT_TRUE(allWaiting());
  EXPECT_EQ(m.LastActionTime, 0.0);
  EXPECT_EQ(m.getLastFiredAction(), &m.NoActionFiredYet);
}

// Random firing sequences (accumulate at the firing time, then fire) over
// random selections of nodes, reset between replications as the simulator
// does. Every considered node observes its variable after the last firing
// at or before its instant; the others are never touched.
TEST(RewardModelTest, RandomReplicationsMatchReference) {
  rewardPVModel m(true);
  std::vector<KORVELStateVariable*> svs = observed(childOf(m));
  std::mt19937 rng(77);
  std::vector<bool> considered(168, true);
  for (int rep = 0; rep < 60; rep++) {
    SCOPED_TRACE("replication " + std::to_string(rep));
    if (rep % 5 == 0) {
      std::vector<int> chosen;
      for (int i = 0; i < 168; i++)
        if ((considered[i] = rep == 0 || rng() % 3 != 0)) chosen.push_back(i);
      m.ConsiderOnly(chosen.data(), static_cast<int>(chosen.size()));
    }
    std::vector<std::pair<double, std::vector<short>>> history = {{-1.0, {}}};
    for (KORVELStateVariable* sv : svs) history[0].second.push_back(sv->getMark());
    // Gaps of 0 to 7 in halves: several firings at one instant, firings
    // exactly at the instants; some runs stop early.
    double last = rng() % 4 == 0 ? 40.0 + rng() % 40 : 100.0;
    for (double t = (rng() % 15) * 0.5; t <= last; t += (rng() % 15) * 0.5) {
      m.Accumulate(t);
      m.LastActionTime = t;  // the firing
      std::vector<short> values = history.back().second;
      history.emplace_back(t, values);
      for (size_t k = 0; k < 8; k++)
        if (rng() % 4 == 0) svs[k]->setMark(history.back().second[k] = static_cast<short>(rng() % 3));
    }
    m.EndAccumulate(100.0);
    for (int n = 0; n < 168; n++) {
      PerformanceVariableNode* node = m.getNode(n);
      double expected = 0.0;
      for (const auto& h : history)
        if (h.first <= node->StartTime) expected = h.second[n / 21];
      if (!considered[n]) expected = 0.0;
      EXPECT_EQ(node->NodeState, considered[n] ? NodeDone : NodeWaiting) << node->getName() << " " << node->StartTime;
      EXPECT_EQ(node->Value, expected) << node->getName() << " at " << node->StartTime;
      EXPECT_EQ(node->Square, expected * expected);
    }
    m.PVReset();
  }
}

namespace {

// A one-PV reward model without a child, for the PV type file.
struct TinyNode : PerformanceVariableNode {
  explicit TinyNode(int timeIndex) {
    static const double times[2] = {0.0, 5.0};
    Initialize("A", InstantOfTimeReward, 2, times, times, timeIndex, 0, 0, 0);
  }
  void CreateWorkerList() override {}
};

struct TinyPVModel : PVModel {
  PerformanceVariableNode* createPVNode(int pv, int t) override { return pv == 0 ? new TinyNode(t) : nullptr; }
};

}  // namespace

TEST(RewardModelTest, PVTypeFile) {
  support::TempDir dir;
  const std::string path = dir.file("pv.txt");
  const std::string node = "Name:A\nType:0\nNumTimes:2\nStart:0\nStop:0\nStart:5\nStop:5\n";
  TinyPVModel one;
  one.CreatePVList(1, false);
  one.WritePVTypeFile(path.c_str());
  EXPECT_EQ(support::readFile(path), "Version:1\nNumPV:1\n" + node);
  // Expanded, every node repeats the PV's whole time table; the file is
  // truncated first.
  TinyPVModel two;
  two.CreatePVList(1, true);
  two.WritePVTypeFile(path.c_str());
  EXPECT_EQ(support::readFile(path), "Version:1\nNumPV:2\n" + node + node);
  two.WritePVTypeFile(dir.file("no-such-dir/pv.txt").c_str());  // no effect
}

// The measures of the attack_flow reward model are what the README tells
// users: node `N × k + t` is PV `k` at time `M × t`, with the PV names listed
// there. N, M and the names are read from the README itself.
TEST(RewardModelTest, MeasureLayoutIsWhatTheReadmeDescribes) {
  // The README's sentence, with its line breaks made spaces: "... is `N × k
  // + t` for PV `k` (0 Name, 1 Name, ...) at time `M × t`."
  std::string readme;
  for (char c : support::readFile(std::string(TARVEX_SOURCE_DIR) + "/README.md")) {
    bool space = c == ' ' || c == '\n';
    if (!space || (!readme.empty() && readme.back() != ' ')) readme += space ? ' ' : c;
  }
  const std::string lead = "is `", byPV = " × k + t` for PV `k` (", atTime = ") at time `";
  size_t by = readme.find(byPV);
  ASSERT_NE(by, std::string::npos);
  size_t start = readme.rfind(lead, by) + lead.size();
  const int perPV = std::stoi(readme.substr(start, by - start));
  size_t close = readme.find(atTime, by);
  ASSERT_NE(close, std::string::npos);
  const double step = std::stod(readme.substr(close + atTime.size()));
  std::vector<std::string> names;
  std::istringstream list(readme.substr(by + byPV.size(), close - by - byPV.size()));
  for (std::string item; std::getline(list, item, ',');) {
    if (!item.empty() && item[0] == ' ') item.erase(0, 1);
    size_t space = item.find(' ');
    ASSERT_EQ(std::stoi(item.substr(0, space)), static_cast<int>(names.size())) << item;
    names.push_back(item.substr(space + 1));
  }
  ASSERT_GE(names.size(), 2u);

  rewardPVModel m(true);
  MeasureLayout layout = m.Measures();
  ASSERT_EQ(layout.numPVs, static_cast<int>(names.size()));
  ASSERT_EQ(layout.numNodes, perPV * layout.numPVs);
  ASSERT_EQ(layout.nodes.size(), static_cast<size_t>(layout.numNodes));
  for (int k = 0; k < layout.numPVs; k++) {
    for (int t = 0; t < perPV; t++) {
      const MeasureLayout::Node& node = layout.nodes[perPV * k + t];
      EXPECT_EQ(node.pv, k);
      EXPECT_EQ(node.name, names[k]);
      EXPECT_EQ(node.time, step * t);
    }
  }
  // Without expansion: one node per PV, at its first instant.
  rewardPVModel single(false);
  layout = single.Measures();
  ASSERT_EQ(layout.numNodes, layout.numPVs);
  for (int k = 0; k < layout.numPVs; k++)
    EXPECT_EQ(std::make_tuple(layout.nodes[k].pv, layout.nodes[k].name, layout.nodes[k].time),
              std::make_tuple(k, names[k], 0.0));
}
