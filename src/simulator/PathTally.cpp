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
  if (!(weight > 0.0)) return;
  if (static_cast<int>(sums_.size()) <= walk.node) sums_.resize(walk.node + 1);
  Sum& s = sums_[walk.node];
  const bool first = s.weight == 0.0;
  if (first) {
    used_.push_back(walk.node);
    s.times = walk.times;
    s.goalWeight.assign(walk.goalTimes.size(), 0.0);
    s.goalTime.assign(walk.goalTimes.size(), 0.0);
  }
  s.weight += weight;
  // Running means: a value that is the same every time stays exact.
  auto update = [](double* mean, double x, double share) {
    if (x != *mean) *mean += (x - *mean) * share;
  };
  const double share = weight / s.weight;
  update(&s.cost, walk.cost, first ? 1.0 : share);
  update(&s.detection, 1.0 - walk.undetected, first ? 1.0 : share);
  for (size_t i = 0; i < walk.times.size() && i < s.times.size(); i++)
    update(&s.times[i], walk.times[i], share);
  for (size_t g = 0; g < walk.goalTimes.size() && g < s.goalWeight.size(); g++) {
    if (walk.goalTimes[g] < 0.0) continue;
    s.goalWeight[g] += weight;
    update(&s.goalTime[g], walk.goalTimes[g], weight / s.goalWeight[g]);
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
