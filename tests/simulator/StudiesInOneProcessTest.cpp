// Several studies and drivers in one process: the model catalogue's names
// and files, studies that keep their models' decisions to themselves,
// drivers built one after another (also on several experiments of one
// study) writing what separate processes write,
// and a set-up that fails by returning.
#include <gtest/gtest.h>

#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "model/FileStudy.h"
#include "model/ModelCatalogue.h"
#include "model/attack_flowKORVEL.h"
#include "rewards/PVModel.h"
#include "simulator/SimulatorClass.h"
#include "support/Process.h"

using namespace support;

namespace {

const std::string kAttackFlowFile = TARVEX_SOURCE_DIR "/models/attack_flow.toml";
const std::string kEnterpriseFile = TARVEX_SOURCE_DIR "/models/enterprise.toml";

// Captures what the code under test writes to a standard stream.
class Capture {
 public:
  explicit Capture(std::ostream& stream) : stream_(stream), saved_(stream.rdbuf(text_.rdbuf())) {}
  ~Capture() { stream_.rdbuf(saved_); }
  std::string text() const { return text_.str(); }

 private:
  std::ostream& stream_;
  std::ostringstream text_;
  std::streambuf* saved_;
};

// Create on a command line (the program name is added), with its standard
// output and error captured.
struct Created {
  std::unique_ptr<SimulatorClass> simulator;
  int status = -1;
  std::string out, err;
};
Created create(std::vector<std::string> args) {
  args.insert(args.begin(), "attack_flow_sim");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  Created c;
  Capture out(std::cout), err(std::cerr);
  c.simulator = SimulatorClass::Create(static_cast<int>(args.size()), argv.data(), &c.status);
  c.out = out.text();
  c.err = err.text();
  return c;
}

// The atomic model of a study's (new) reward model.
attack_flowKORVEL* atomicModel(PVModel* pv) {
  return pv ? dynamic_cast<attack_flowKORVEL*>(pv->getChildModel()) : nullptr;
}

// The decision the model marked last (the one StepWeight at 1, with
// MakeDecision at 1), or -1.
int markedDecision(const attack_flowKORVEL& m) {
  int found = -1;
  for (int d = 0; d < attack_flowKORVEL::kNumDecisions; d++)
    if (m.Weights[d]->getMark() == 1) found = found < 0 ? d : -2;
  return found >= 0 && m.MakeDecision->getMark() == 1 ? found : -1;
}

// Clears the marks of the last decision, so that the next one is read alone.
void clearMarks(attack_flowKORVEL& m) {
  for (StepWeight* w : m.Weights) w->setMark(0);
  m.MakeDecision->setMark(0);
}

// The decisions taken along one path from the current state: the marked
// decision fires, then its outcome number round % outcomes, and the next
// decision is read; the path ends where none is marked.
std::vector<int> decisionPath(attack_flowKORVEL& m, int rounds) {
  std::vector<int> path;
  for (int round = 0; round < rounds; round++) {
    const int d = markedDecision(m);
    path.push_back(d);
    if (d < 0) break;
    m.Decisions[d]->Fire();
    m.getStep(d, round % m.getStepsPerDecision(d))->Fire();
  }
  return path;
}

}  // namespace

TEST(ModelCatalogue, NamesFilesAndUnknownModels) {
  const std::vector<std::string> names = ModelCatalogue::CompiledNames();
  ASSERT_FALSE(names.empty());
  EXPECT_EQ(names.front(), ModelCatalogue::kDefaultModel);

  // Each opening is a study of its own.
  std::ostringstream errors;
  std::unique_ptr<BaseStudyClass> a = ModelCatalogue::OpenStudy("attack_flow", errors);
  std::unique_ptr<BaseStudyClass> b = ModelCatalogue::OpenStudy("attack_flow", errors);
  ASSERT_TRUE(a && b);
  EXPECT_NE(a.get(), b.get());
  EXPECT_EQ(dynamic_cast<FileStudy*>(a.get()), nullptr);
  EXPECT_EQ(a->GetNumExps(), 1);

  // A path is a model file, even one called like a compiled model.
  TempDir dir;
  writeFile(dir.file("attack_flow"), readFile(kAttackFlowFile));
  for (const std::string& path : {kAttackFlowFile, dir.file("attack_flow")}) {
    std::unique_ptr<BaseStudyClass> s = ModelCatalogue::OpenStudy(path, errors);
    auto* file = dynamic_cast<FileStudy*>(s.get());
    ASSERT_NE(file, nullptr) << path;
    EXPECT_EQ(file->description().name, "attack_flow");
  }
  EXPECT_EQ(errors.str(), "");

  // A missing file is reported as a file; an unknown name lists the names.
  std::ostringstream missing;
  EXPECT_EQ(ModelCatalogue::OpenStudy(dir.file("none.toml"), missing), nullptr);
  EXPECT_EQ(missing.str().rfind(dir.file("none.toml") + ":", 0), 0u) << missing.str();
  std::ostringstream unknown;
  EXPECT_EQ(ModelCatalogue::OpenStudy("atack_flow", unknown), nullptr);
  EXPECT_EQ(unknown.str(),
            "ERROR: no model named atack_flow: the compiled models are attack_flow, and no model "
            "file of that name exists here or among the installed models\n");
}

// Two studies of the compiled model: one model's decisions are changed
// (another horizon, the look-ahead told so); the other still decides as a
// model of a new process, and a driver run beside them writes the bytes a
// separate process writes.
TEST(StudiesInOneProcess, NeitherSeesTheOthersDecisions) {
  std::ostringstream errors;
  std::unique_ptr<BaseStudyClass> first = ModelCatalogue::OpenStudy("attack_flow", errors);
  std::unique_ptr<BaseStudyClass> second = ModelCatalogue::OpenStudy("attack_flow", errors);
  ASSERT_TRUE(first && second);
  attack_flowKORVEL* untouched = atomicModel(first->GetPVModel(true));
  attack_flowKORVEL* changed = atomicModel(second->GetPVModel(true));
  ASSERT_TRUE(untouched && changed);
  ASSERT_NE(untouched, changed);
  ASSERT_EQ(markedDecision(*untouched), 0);  // Networkscanning, at horizon 5
  ASSERT_EQ(markedDecision(*changed), 0);

  // At horizon 2 the adversary captures the password first.
  changed->planningHorizon = 2;
  changed->ParametersChanged();
  for (attack_flowKORVEL* m : {changed, untouched}) {
    clearMarks(*m);
    m->recalculateAdversaryDecisionWeights();
  }
  EXPECT_EQ(markedDecision(*changed), 7);
  EXPECT_EQ(markedDecision(*untouched), 0);

  // Along the same outcomes, the untouched model decides as a model of a
  // study opened afresh, while the changed one goes its own way.
  std::vector<int> changedPath = decisionPath(*changed, 12);
  std::vector<int> untouchedPath = decisionPath(*untouched, 12);
  std::unique_ptr<BaseStudyClass> fresh = ModelCatalogue::OpenStudy("attack_flow", errors);
  ASSERT_TRUE(fresh);
  std::vector<int> freshPath = decisionPath(*atomicModel(fresh->GetPVModel(true)), 12);
  EXPECT_EQ(untouchedPath, freshPath);
  EXPECT_GE(untouchedPath.size(), 3u);
  EXPECT_NE(changedPath, untouchedPath);
  EXPECT_EQ(changedPath.front(), 7);

  // A driver opens a study of its own: with the changed model alive, it
  // writes what a new process writes.
  TempDir dir;
  const std::vector<std::string> options = {"-N", "300", "-s", "4242", "-n", "64"};
  std::vector<std::string> inProcess = options, separate = options;
  inProcess.insert(inProcess.end(), {"-a", dir.file("in.txt"), "-b", dir.file("in.bin")});
  separate.insert(separate.end(), {"-a", dir.file("sep.txt"), "-b", dir.file("sep.bin")});
  Created c = create(inProcess);
  ASSERT_TRUE(c.simulator) << c.err;
  {
    Capture quiet(std::cout);
    c.simulator->Run();
  }
  EXPECT_EQ(c.simulator->ExitStatus, 0);
  c.simulator.reset();
  Result r = runSimulator(separate);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_GT(readFile(dir.file("in.bin")).size(), 1000u);
  EXPECT_TRUE(readFile(dir.file("in.txt")) == readFile(dir.file("sep.txt")));
  EXPECT_TRUE(readFile(dir.file("in.bin")) == readFile(dir.file("sep.bin")));
  EXPECT_EQ(errors.str(), "");
}

// Drivers built one after another in one process, with other generators,
// seeds, counts, models and traces, write the files that separate processes
// write.
TEST(StudiesInOneProcess, DriversOneAfterAnotherWriteWhatProcessesWrite) {
  TempDir dir;
  struct Run {
    std::vector<std::string> args;
    const char* trace;  // the trace file's ending, with -f; null: none
  };
  const Run runs[] = {
      {{"-r", "2", "-s", "7", "-N", "120"}, nullptr},
      {{"-s", "99", "-N", "200", "-n", "7"}, nullptr},
      {{"-N", "2", "-x"}, ".xml"},
      {{"-r", "1", "-N", "90", "-M", kAttackFlowFile}, nullptr},
      {{"-N", "150", "-M", "attack_flow"}, nullptr},
      {{"-N", "1", "-x", "-M", kAttackFlowFile}, ".xml"},
      {{"-s", "5", "-N", "80"}, nullptr},
      // Experiments of one study, one after another, under overrides.
      {{"-N", "60", "-M", kEnterpriseFile, "-e", "2"}, nullptr},
      {{"-N", "60", "-M", kEnterpriseFile, "-e", "6", "-O", "d:mfa:0.3"}, nullptr},
      {{"-N", "60", "-M", kEnterpriseFile, "-e", "1"}, nullptr},
      {{"-N", "60", "-M", kEnterpriseFile}, nullptr},
  };
  for (size_t i = 0; i < std::size(runs); i++) {
    std::string label;
    for (const std::string& word : runs[i].args) label += word + " ";
    SCOPED_TRACE(label);
    const std::string in = dir.file("in" + std::to_string(i));
    const std::string sep = dir.file("sep" + std::to_string(i));
    std::vector<std::string> inProcess = runs[i].args, separate = runs[i].args;
    inProcess.insert(inProcess.end(), {"-a", in + ".txt", "-b", in + ".bin"});
    separate.insert(separate.end(), {"-a", sep + ".txt", "-b", sep + ".bin"});
    if (runs[i].trace) {
      inProcess.insert(inProcess.end(), {"-f", in + "_trace"});
      separate.insert(separate.end(), {"-f", sep + "_trace"});
    }
    Created c = create(inProcess);
    ASSERT_TRUE(c.simulator) << c.err;
    std::string out;
    {
      Capture captured(std::cout);
      c.simulator->Run();
      out = captured.text();
    }
    EXPECT_EQ(c.simulator->ExitStatus, 0);
    c.simulator.reset();
    Result r = runSimulator(separate);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(actionsFired(out), actionsFired(r.out));
    EXPECT_GT(readFile(in + ".bin").size(), 1000u);
    EXPECT_TRUE(readFile(in + ".txt") == readFile(sep + ".txt"));
    EXPECT_TRUE(readFile(in + ".bin") == readFile(sep + ".bin"));
    if (runs[i].trace) {
      const std::string trace = readFile(in + "_trace" + runs[i].trace);
      EXPECT_GT(trace.size(), 1000u);
      EXPECT_TRUE(trace == readFile(sep + "_trace" + runs[i].trace));
    }
  }
}

// A set-up that cannot go on returns null with the exit status and the
// messages the program prints, having created no file.
TEST(StudiesInOneProcess, FailedSetUpReturns) {
  TempDir dir;
  const std::string a = dir.file("out.txt"), b = dir.file("out.bin");
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string err;  // the last line of standard error
    std::string out;  // a piece of standard output
  };
  const Case cases[] = {
      {{"-N", "x", "-a", a, "-b", b}, 1, "ERROR: Parsing command line options\n", ""},
      {{"-t", "0", "-N", "5", "-a", a, "-b", b}, 1, "has none\n", ""},
      {{"-M", "nothing_here", "-a", a},
       1,
       "no model file of that name exists here or among the installed models\n",
       ""},
      {{"-M", dir.file("none.toml"), "-b", b}, 1, "cannot read the model file\n", ""},
      {{"-M", "attack_flow", "-K"},
       1,
       "ERROR: -K checks a model file; attack_flow is a compiled model\n",
       ""},
      {{"-M", kAttackFlowFile, "-K", "-a", a}, 0, "", "Initial decision: Networkscanning"},
  };
  for (const Case& c : cases) {
    std::string label;
    for (const std::string& word : c.args) label += word + " ";
    SCOPED_TRACE(label);
    Created made = create(c.args);
    EXPECT_EQ(made.simulator, nullptr);
    EXPECT_EQ(made.status, c.status);
    EXPECT_GE(made.err.size(), c.err.size());
    EXPECT_EQ(made.err.substr(made.err.size() - std::min(made.err.size(), c.err.size())), c.err)
        << made.err;
    EXPECT_TRUE(contains(made.out, c.out)) << made.out;
    EXPECT_TRUE(dir.entries().empty());
  }
  // The first case's messages are the program's own, byte for byte.
  Created made = create(cases[0].args);
  Result r = runSimulator(cases[0].args);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(made.err, r.err);
  EXPECT_EQ(made.out, r.out);
}
