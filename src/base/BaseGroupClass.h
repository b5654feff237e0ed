// BaseGroupClass: an action that stands for a set of member actions, exactly
// one of which is carried out when the group fires. The member is drawn with
// probability proportional to its weight among the enabled members of the
// highest rank; members are groups themselves, so groups nest.
#ifndef TARVEX_BASE_BASEGROUPCLASS_H
#define TARVEX_BASE_BASEGROUPCLASS_H

#include <vector>

#include "base/BaseActionClass.h"
#include "base/WeightedPick.h"

class BaseGroupClass : public BaseActionClass {
 public:
  // One entry of the cumulative weight distribution over enabled members.
  struct WeightEntry {
    double cumulative;
    BaseGroupClass* member;
  };

  BaseGroupClass() = default;

  bool Enabled() override;
  double Weight() override;
  double Rate() override;
  bool ReactivationPredicate() override;
  bool ReactivationFunction() override;
  double SampleDistribution() override;
  BaseActionClass* Fire() override;
  int Rank() override;
  bool EnablingChange() override;
  bool IsAMember(BaseActionClass* a) override;
  double Probability(BaseActionClass* a) override;
  void printEnablingState(std::ostream* os) override;
  BaseActionClass* getPrintedAction() override;
  // Chooses a member (drawing one uniform per nesting level); false when no
  // member is enabled.
  virtual bool SelectAction();
  virtual void setGroupId(int id);

  void initialize(int n, const char* name);
  void appendGroup(BaseGroupClass* member);
  void enlargeArrays(int n);
  void setMember(BaseGroupClass* member, int i);
  void replaceMember(BaseActionClass* oldAction, BaseActionClass* newAction);
  // Rebuilds the weight distribution over the enabled members of the
  // highest rank; returns the total weight, or -1.0 with no enabled member.
  double CalculateWeightDistribution();

  int getNumMembers() const { return NumMembers; }
  BaseGroupClass* getMember(int i) const { return Members[i]; }
  BaseActionClass* getSelectedAction() const { return SelectedAction; }
  int getNumEntries() const { return NumEntries; }
  const WeightEntry& getEntry(int i) const { return WeightDistribution[i]; }
  int getCapacity() const { return Capacity; }

 protected:
  // The selected action, which must exist when the group is asked for it.
  BaseActionClass* selected(const char* operation);
  // Reports the missing selection and fails the assertion that it exists
  // (so it does not return); kept out of line, off the paths that use it.
  [[gnu::cold, gnu::noinline]] void NoSelectedAction(const char* operation);
  // The first entry whose cumulative weight exceeds the target (the last
  // entry when none does): the member a uniform draw lands on.
  int EntryAt(double target) const {
    const WeightEntry* dist = WeightDistribution.data();
    return WeightedPick(NumEntries, target, [dist](int i) { return dist[i].cumulative; });
  }

  std::vector<BaseGroupClass*> Members;
  BaseActionClass* SelectedAction = nullptr;
  std::vector<WeightEntry> WeightDistribution;
  int MaxRank = 0;
  int NumMembers = 0;
  int NumEntries = 0;
  int Capacity = 0;
};

#endif
