#include "simulator/PathTally.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <ostream>
#include <sstream>

namespace {

// Round-trip text of a double.
std::string number(double v) {
  std::ostringstream text;
  text << std::setprecision(17) << v;
  return text.str();
}

}  // namespace

bool PathTally::Build(BaseActionClass* const* actions, int count, std::string* error) {
  return tracker_.Build(actions, count, error);
}

void PathTally::Add(const PathTracker::Walk& walk, double weight) {
  if (static_cast<int>(sums_.size()) <= walk.node) sums_.resize(walk.node + 1);
  Sum& s = sums_[walk.node];
  if (s.weight == 0.0 && s.times.empty() && s.goalWeight.empty()) {
    used_.push_back(walk.node);
    s.times.assign(walk.times.size(), 0.0);
    s.goalWeight.assign(walk.goalTimes.size(), 0.0);
    s.goalTime.assign(walk.goalTimes.size(), 0.0);
  }
  s.weight += weight;
  s.cost += weight * walk.cost;
  s.detection += weight * (1.0 - walk.undetected);
  for (size_t i = 0; i < walk.times.size() && i < s.times.size(); i++)
    s.times[i] += weight * walk.times[i];
  for (size_t g = 0; g < walk.goalTimes.size() && g < s.goalWeight.size(); g++) {
    if (walk.goalTimes[g] < 0.0) continue;
    s.goalWeight[g] += weight;
    s.goalTime[g] += weight * walk.goalTimes[g];
  }
  total_ += weight;
}

void PathTally::Write(std::ostream& out) const {
  out << "#paths\t1\tweight\t" << number(total_) << "\n#goals";
  for (const std::string& g : tracker_.GoalNames()) out << '\t' << g;
  out << '\n';
  for (int node : used_) {
    const Sum& s = sums_[node];
    out << number(s.weight) << '\t' << number(s.cost) << '\t' << number(s.detection) << '\t';
    const std::vector<std::string> entries = tracker_.Entries(node);
    if (entries.empty()) out << '-';
    for (size_t i = 0; i < entries.size(); i++) out << (i ? " " : "") << entries[i];
    out << '\t';
    if (s.times.empty()) out << '-';
    for (size_t i = 0; i < s.times.size(); i++) out << (i ? " " : "") << number(s.times[i]);
    for (size_t g = 0; g < s.goalWeight.size(); g++)
      out << '\t' << number(s.goalWeight[g]) << ':' << number(s.goalTime[g]);
    out << '\n';
  }
}

bool PathTally::WriteFile(const std::string& path, std::string* error) const {
  // Beside the file, so that the rename stays on one file system.
  const std::string temporary = path + ".tmp." + std::to_string(getpid());
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (out) {
      Write(out);
      out.flush();
    }
    if (!out) {
      *error = "cannot write " + temporary;
      std::remove(temporary.c_str());
      return false;
    }
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    *error = "cannot rename " + temporary + " to " + path + ": " + std::strerror(errno);
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}
