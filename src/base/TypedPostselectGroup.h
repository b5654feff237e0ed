// TypedPostselectGroup<Member>: a PostselectGroup whose members are all of
// one known class. It behaves exactly as a PostselectGroup (the same calls to
// its members, in the same order, the same uniform drawn at the same moment)
// but calls the members' operations without virtual dispatch, which matters
// on the selection and rescheduling paths that ask every member for its
// enabling, rank and weight at nearly every firing. Member must declare the
// operations used here final, so that a direct call is the call a virtual
// one would make.
#ifndef TARVEX_BASE_TYPEDPOSTSELECTGROUP_H
#define TARVEX_BASE_TYPEDPOSTSELECTGROUP_H

#include "base/PostselectGroup.h"
#include "distributions/DistributionDefinition.h"

template <class Member>
class TypedPostselectGroup : public PostselectGroup {
 public:
  TypedPostselectGroup() = default;

  // Members can only be of the group's member class.
  void appendGroup(Member* m) { PostselectGroup::appendGroup(m); }
  void setMember(Member* m, int i) { PostselectGroup::setMember(m, i); }

  // The loops read the member array into locals first: the members' own
  // fields are written on the way, and the compiler cannot tell that those
  // writes leave the group's arrays alone.
  bool Enabled() override {
    BaseGroupClass* const* members = Members.data();
    const int n = NumMembers;
    bool any = false;
    for (int i = 0; i < n; i++)
      if (static_cast<Member*>(members[i])->Member::Enabled()) any = true;
    return any;
  }

  bool EnablingChange() override {
    BaseGroupClass* const* members = Members.data();
    const int n = NumMembers;
    bool any = false;
    for (int i = 0; i < n; i++)
      if (static_cast<Member*>(members[i])->Member::EnablingChange()) any = true;
    return any;
  }

  bool ReactivationPredicate() override {
    return firstMember("ReactivationPredicate()")->Member::ReactivationPredicate();
  }
  bool ReactivationFunction() override {
    return firstMember("ReactivationFunction()")->Member::ReactivationFunction();
  }
  double SampleDistribution() override {
    return firstMember("SampleDistribution()")->Member::SampleDistribution();
  }

  // The weight distribution of BaseGroupClass, over typed members.
  double CalculateTypedWeightDistribution() {
    BaseGroupClass* const* members = Members.data();
    WeightEntry* dist = WeightDistribution.data();
    const int n = NumMembers;
    int maxRank = MaxRank;
    int entries = 0;
    bool any = false;
    double cumulative = 0.0;
    for (int i = 0; i < n; i++) {
      Member* m = static_cast<Member*>(members[i]);
      if (!m->Member::Enabled()) {
        m->Disabled = true;
        continue;
      }
      int r = m->Member::Rank();
      if (!any) {
        any = true;
        maxRank = r;
        m->Disabled = false;
        cumulative = m->Member::Weight();
        dist[0] = WeightEntry{cumulative, m};
        entries = 1;
      } else if (r < maxRank) {
        m->Disabled = true;
      } else if (r == maxRank) {
        m->Disabled = false;
        cumulative = cumulative + m->Member::Weight();
        dist[entries++] = WeightEntry{cumulative, m};
      } else {
        maxRank = r;
        cumulative = m->Member::Weight();
        dist[0] = WeightEntry{cumulative, m};
        entries = 1;
        m->Disabled = false;
      }
    }
    MaxRank = maxRank;
    if (!any) return -1.0;
    NumEntries = entries;
    return cumulative;
  }

  // The selection of BaseGroupClass, over typed members.
  bool SelectAction() override {
    double u = TheDistribution->getGenerator()->rnd();
    double total = CalculateTypedWeightDistribution();
    double target = total * u;
    if (total < 0.0) return false;
    auto* chosen = static_cast<Member*>(WeightDistribution[EntryAt(target)].member);
    chosen->Member::SelectAction();
    SelectedAction = chosen->getSelectedAction();
    return true;
  }

 private:
  Member* member(int i) const { return static_cast<Member*>(Members[i]); }
  Member* firstMember(const char* operation) { return static_cast<Member*>(first(operation)); }
};

#endif
