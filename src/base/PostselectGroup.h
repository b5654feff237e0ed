// PostselectGroup: a group that draws its member only at the moment of
// firing; its timing and reactivation come from its first member.
#ifndef TARVEX_BASE_POSTSELECTGROUP_H
#define TARVEX_BASE_POSTSELECTGROUP_H

#include "base/BaseGroupClass.h"

class PostselectGroup : public BaseGroupClass {
 public:
  PostselectGroup() = default;
  // Room for n members, all in use and to be filled with setMember.
  explicit PostselectGroup(int n);

  double Weight() override { return 1.0; }
  bool ReactivationPredicate() override { return first("ReactivationPredicate()")->ReactivationPredicate(); }
  bool ReactivationFunction() override { return first("ReactivationFunction()")->ReactivationFunction(); }
  double SampleDistribution() override { return first("SampleDistribution()")->SampleDistribution(); }
  BaseActionClass* Fire() override;
  int Rank() override { return 1; }

 protected:
  // The first member, which must exist.
  BaseGroupClass* first(const char* operation) {
    if (NumMembers < 1 || !Members[0]) NoMembers(operation);
    return Members[0];
  }
  // Reports the missing first member and fails the assertion that it exists
  // (so it does not return); kept out of line, off the paths that use it.
  [[gnu::cold, gnu::noinline]] void NoMembers(const char* operation);
};

#endif
