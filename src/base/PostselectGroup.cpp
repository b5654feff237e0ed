#include "base/PostselectGroup.h"

#include <iostream>

#include "base/StandardErrors.h"

PostselectGroup::PostselectGroup(int n) {
  enlargeArrays(n);
  NumMembers = n;
}

void PostselectGroup::NoMembers(const char* operation) {
  std::cerr << "!! PostselectGroup::" << operation << ": group " << Name << " has no members"
            << std::endl;
  TarvexAssertionFailure("NumMembers > 0", "PostselectGroup", __LINE__);
}

BaseActionClass* PostselectGroup::Fire() {
  SelectAction();
  BaseActionClass* result = selected("Fire()")->Fire();
  SelectedAction = nullptr;
  return result;
}
