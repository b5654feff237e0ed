#include "base/PostselectGroup.h"

#include <iostream>

#include "base/StandardErrors.h"

PostselectGroup::PostselectGroup(int n) {
  enlargeArrays(n);
  NumMembers = n;
}

BaseGroupClass* PostselectGroup::first(const char* operation) {
  if (NumMembers < 1 || !Members[0]) {
    std::cerr << "!! PostselectGroup::" << operation << ": group " << Name << " has no members"
              << std::endl;
    TarvexAssertionFailure("NumMembers > 0", "PostselectGroup", __LINE__);
  }
  return Members[0];
}

BaseActionClass* PostselectGroup::Fire() {
  SelectAction();
  BaseActionClass* result = selected("Fire()")->Fire();
  SelectedAction = nullptr;
  return result;
}
