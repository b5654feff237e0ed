// Set-up, the run and teardown of the driver.
#include "simulator/SimulatorClass.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cfloat>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "distributions/DistributionDefinition.h"
#include "distributions/LaggedFibonacci.h"
#include "distributions/MersenneTwister.h"
#include "distributions/Tausworthe.h"
#include "formalism/LookaheadMemo.h"
#include "model/FileStudy.h"
#include "model/ModelCatalogue.h"
#include "simulator/PathTally.h"
#include "network/TarvexProcess.h"
#include "network/TarvexSocket.h"
#include "rewards/BaseStudyClass.h"
#include "rewards/PVModel.h"
#include "trace/TraceFileContainer.h"
#include "trace/TraceFileTarvex.h"
#include "trace/TraceFileXML.h"

namespace {

// A sampler made by the driver when the process-wide one is missing.
std::unique_ptr<UserDistributions> fallbackDistribution;

// Set-up failures print their message and end set-up with exit status 1.
bool failOpen(const char* what, const std::string& name, int* exitStatus) {
  int error = errno;
  std::cout.flush();
  std::cerr << "ERROR: cannot open " << what << " result file " << name << ": "
            << (error ? std::strerror(error) : "unknown error") << std::endl;
  *exitStatus = 1;
  return false;
}

bool refuse(const std::string& message, int* exitStatus) {
  std::cout.flush();
  std::cerr << "ERROR: " << message << std::endl;
  *exitStatus = 1;
  return false;
}

// The memory the process may use at most, in bytes: the machine's physical
// memory, or less under an address-space or data-size limit.
unsigned long long usableMemory() {
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const long pageSize = ::sysconf(_SC_PAGESIZE);
  using u64 = unsigned long long;
  u64 most = pages > 0 && pageSize > 0 ? static_cast<u64>(pages) * static_cast<u64>(pageSize) : ~0ULL;
  for (int resource : {RLIMIT_AS, RLIMIT_DATA}) {
    struct rlimit limit;
    if (::getrlimit(resource, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < most)
      most = limit.rlim_cur;
  }
  return most;
}

}  // namespace

SimulatorClass::SimulatorClass() {
  std::cerr << "ERROR: the simulator must be built from a command line" << std::endl;
  std::exit(1);
}

SimulatorClass::SimulatorClass(int argc, char** argv) {
  int status = 0;
  if (!SetUp(argc, argv, &status)) {
    AbandonSetUp();
    std::exit(status);
  }
}

SimulatorClass::SimulatorClass(SetUpLater) {}

std::unique_ptr<SimulatorClass> SimulatorClass::Create(int argc, char** argv, int* exitStatus) {
  std::unique_ptr<SimulatorClass> simulator(new SimulatorClass(SetUpLater{}));
  int status = 0;
  if (!simulator->SetUp(argc, argv, &status)) {
    simulator->AbandonSetUp();
    simulator.reset();
  }
  if (exitStatus) *exitStatus = status;
  return simulator;
}

void SimulatorClass::AbandonSetUp() {
  // Files opened before the failure are closed as they are, without the
  // trailer and final header of a finished run.
  AsciiStream.reset();
  BinStream.reset();
}

bool SimulatorClass::SetUp(int argc, char** argv, int* exitStatus) {
  // 1. Members start at their defaults; the sampler must exist.
  MaxBatches = -1;
  if (!TheDistribution || !TheDistribution->getGenerator()) {
    fallbackDistribution = std::make_unique<UserDistributions>(0, 31415);
    TheDistribution = fallbackDistribution.get();
  }

  // 2. The command line.
  if (ParseCommandLineOptions(argc, argv) != 0) {
    PrintUsage();
    std::cerr << "ERROR: Parsing command line options" << std::endl;
    *exitStatus = 1;
    return false;
  }
  // The manager's secret comes from the environment, never from the
  // command line (where every user of the machine could read it).
  if (const char* secret = std::getenv(kSecretVariable)) {
    Secret = secret;
    if (Secret.empty() || Secret.size() > kLongestSecret)
      return refuse(std::string(kSecretVariable) + " must hold 1 to " +
                        std::to_string(kLongestSecret) + " bytes, not " +
                        std::to_string(Secret.size()),
                    exitStatus);
  }
  // A terminating run's packet never needs room for more observations than
  // the run has replications. Only a manager (-w) may change the limit
  // later; a steady-state node may complete more batches than the limit.
  PacketCapacity = ReportSize;
  if (IsTerminating && MaxBatches > 0 && MaxBatches < PacketCapacity && !WaitForSocket)
    PacketCapacity = MaxBatches;

  // The study (of -M's model, or the default one) is opened before anything
  // is created, so that a faulty model file leaves no files behind. A fault
  // of a file's running model stops the run.
  if (LookaheadMemoryMB > 0) LookaheadMemo::SetDefaultLimit(size_t(LookaheadMemoryMB) << 20);
  Study = ModelCatalogue::OpenStudy(HasModelFile ? ModelFileName : ModelCatalogue::kDefaultModel,
                                    std::cerr);
  if (!Study) {
    *exitStatus = 1;
    return false;
  }
  if (auto* fileStudy = dynamic_cast<FileStudy*>(Study.get())) {
    if (CheckModelOnly) {
      fileStudy->PrintSummary(std::cout);
      *exitStatus = 0;
      return false;
    }
    fileStudy->SetFaultHandler([this](const std::string& message) {
      std::cout.flush();
      std::cerr << message << "; the run stops" << std::endl;
      ExitStatus = 1;
      StopFlag = kStop;
    });
  } else if (CheckModelOnly) {
    return refuse("-K checks a model file; " + ModelFileName + " is a compiled model", exitStatus);
  }
  // A study with global variables runs one of its experiments; without
  // globals the number only labels the records.
  if (Study->GetNumGVs() > 0 && Experiment >= static_cast<uint32_t>(Study->GetNumExps())) {
    return refuse("-e " + std::to_string(Experiment) + ": the study of " + ModelFileName +
                      " has " + std::to_string(Study->GetNumExps()) +
                      " experiments, numbered 0 to " + std::to_string(Study->GetNumExps() - 1),
                  exitStatus);
  }

  // 4. Trace writers.
  Trace = std::make_unique<TraceFileContainer>();
  if (TarvexTrace || XMLTrace) {
    Trace->setTraceLevel(RequestedTraceLevel);
    if (TarvexTrace) {
      if (!HasTraceFileName) {
        std::cout << "Adding cout: " << std::endl;
        TarvexTraceFile = std::make_unique<TraceFileTarvex>(&std::cout);
      } else {
        TarvexTraceFile = std::make_unique<TraceFileTarvex>((TraceFileName + ".txt").c_str());
      }
      TarvexTraceFile->setTraceLevel(RequestedTraceLevel);
      Trace->AddTraceFile(TarvexTraceFile.get());
    }
    if (XMLTrace) {
      if (!HasTraceFileName)
        XMLTraceFile = std::make_unique<TraceFileXML>(&std::cout);
      else
        XMLTraceFile = std::make_unique<TraceFileXML>((TraceFileName + ".xml").c_str());
      XMLTraceFile->setTraceLevel(RequestedTraceLevel);
      Trace->AddTraceFile(XMLTraceFile.get());
    }
  }

  // 5, 6. The study, its experiment and any overrides. A study with global
  // variables shows the experiment's values, and again after overrides.
  Study->SetGVs(static_cast<int>(Experiment));
  auto* fileStudy = dynamic_cast<FileStudy*>(Study.get());
  if (fileStudy && Study->GetNumGVs() > 0) {
    std::cout << "Experiment " << Experiment << ": " << fileStudy->ExperimentName(Experiment)
              << std::endl;
    Study->PrintGlobalValues(static_cast<int>(Experiment));
  }
  if (HasOverrideString) {
    Study->overrideGVs(OverrideString.c_str());
    std::cout << "Overriding global variables in simulator" << std::endl;
    if (fileStudy && Study->GetNumGVs() > 0) {
      std::cout << "The Global Variable values after the overrides are:" << std::endl;
      fileStudy->PrintValues(std::cout);
    }
  }

  // 7. The reward model, which builds the atomic model. Model and action
  // numbers (which traces show) count from the start for each simulator, as
  // in a new process, whatever models were built before it.
  BaseModelClass::globalModelId = 0;
  BaseActionClass::MaxID = 0;
  pvModel = Study->GetPVModel(true);
  if (TarvexTrace || XMLTrace) Trace->addPVModel(pvModel);
  Trace->printHeader();

  // 8. The nodes that fit the kind of run; the others never complete.
  int wanted = IsTerminating ? 0 : 1;
  std::vector<int> indices;
  for (int i = 0; i < pvModel->getNumPVs(); i++) {
    PerformanceVariableNode* node = pvModel->getNode(i);
    if (node->SteadyStateFlag == wanted)
      indices.push_back(i);
    else
      node->StopTime = DBL_MAX;
  }
  pvModel->ConsiderOnly(indices.data(), static_cast<int>(indices.size()));
  // A steady-state window must have a positive length, or batches at its
  // boundary would close for ever without time advancing.
  for (int i : indices) {
    PerformanceVariableNode* node = pvModel->getNode(i);
    if (!IsTerminating && !(node->IntervalLength > 0)) {
      std::cout.flush();
      std::cerr << "ERROR: Steady-state performance variable " << node->getName()
                << " has an observation window of length " << node->IntervalLength
                << "; batch means need windows of positive length" << std::endl;
      *exitStatus = 1;
      return false;
    }
  }
  if (!IsTerminating && indices.empty()) {
    std::cout.flush();
    std::cerr << "ERROR: Steady-state simulation (-t 0) needs steady-state performance "
                 "variables; the reward model "
              << (pvModel->getName() ? pvModel->getName() : "") << " has none" << std::endl;
    *exitStatus = 1;
    return false;
  }

  // A report must fit one observation record, whose length is a 32-bit
  // count.
  const long long recordLength =
      wire::RecordLength(pvModel->getNumPVs(), 1LL * pvModel->getNumPVs() * ReportSize);
  if (recordLength > 0x7fffffffLL) {
    std::cout.flush();
    std::cerr << "ERROR: ReportSize (-n) " << ReportSize << " is too large: a report of "
              << pvModel->getNumPVs()
              << " performance variables would exceed the largest observation record"
              << std::endl;
    *exitStatus = 1;
    return false;
  }
  // The packets being filled, the pair handed over and the encoded record
  // must fit in memory together.
  const unsigned long long packetBytes = 8ULL * static_cast<unsigned long long>(pvModel->getNumPVs()) *
                                         static_cast<unsigned long long>(PacketCapacity);
  const unsigned long long memory = usableMemory();
  if (5 * packetBytes > memory) {
    return refuse("ReportSize (-n) " + std::to_string(ReportSize) + " needs " +
                      std::to_string(5 * packetBytes >> 20) + " MiB for the packets of " +
                      std::to_string(pvModel->getNumPVs()) +
                      " performance variables, more than the " + std::to_string(memory >> 20) +
                      " MiB of memory available",
                  exitStatus);
  }

  // 3. Result files, opened once the run is known to be possible, so that a
  // refused run leaves existing files alone.
  if (HasASCIIFilename) {
    errno = 0;
    AsciiStream = CreateAsciiFile(ASCIIFilename.c_str());
    if (!AsciiStream->good()) return failOpen("ASCII", ASCIIFilename, exitStatus);
  }
  if (HasBinFilename) {
    errno = 0;
    BinStream = CreateBinFile(BinFilename.c_str());
    if (!BinStream->good()) return failOpen("binary", BinFilename, exitStatus);
  }

  // 9. The schedulable units and their scheduling records.
  pvModel->listGroups(&GroupList);
  Groups = GroupList.getList();
  NumUnits = pvModel->getNumGroups();
  EventRecords.assign(NumUnits, EventRecord());
  for (int i = 0; i < NumUnits; i++) Groups[i]->EventRecord = &EventRecords[i];

  // 10. Connectivity, by the algorithm the environment selects.
  clock_t start = clock();
  const char* simTest = std::getenv("SIMTEST");
  int algorithm = simTest ? std::atoi(simTest) : 2;
  int result = 0;
  if (algorithm == 2) {
    std::cout << "GenerateConnectivityList()" << std::endl;
    result = GenerateConnectivityList();
  } else if (algorithm == 0 || algorithm == 1) {
    std::cout << "GenerateConnectivityListOld()" << std::endl;
    result = GenerateConnectivityListOld();
  }
  if (result != 0) {
    std::cerr << "Error Generating Connectivity List\n" << std::flush;
    *exitStatus = 1;
    return false;
  }
  std::cout << "GenerateConnectivityList() Time="
            << static_cast<double>(clock() - start) / CLOCKS_PER_SEC << std::endl;

  // 11. The event list, one slot per unit and one spare.
  eventList = std::make_unique<EventList>(NumUnits + 1);

  // 12. The generator the command line asks for, always a new one: a run's
  // draws never depend on a run before it in the process. The lagged-
  // Fibonacci generator's read position is process-wide; it starts at the
  // beginning of the buffer, as in a new process.
  if (RNGType == TauswortheGenerator) {
    TheDistribution->setGenerator(new Tausworthe());
  } else if (RNGType == MersenneTwisterGenerator) {
    TheDistribution->setGenerator(new MersenneTwister());
  } else {
    TheDistribution->setGenerator(new LaggedFibonacci());
    LaggedFibonacci::resetReadPosition();
  }

  // 13. The actions; reactivation flags start clear.
  pvModel->listActions(&ActionList);
  Actions = ActionList.getList();
  NumActions = ActionList.getNumItems();
  for (int i = 0; i < NumActions; i++) Actions[i]->Reactivation = false;
  if (HasPathsFile) {
    std::string error;
    PathsTally = std::make_unique<PathTally>();
    if (!PathsTally->Build(Actions, NumActions, &error)) {
      PathsTally.reset();
      return refuse("-P: " + error, exitStatus);
    }
    Paths = PathsTally.get();
  }

  // 14. Seeding, once for the whole run.
  TheDistribution->getGenerator()->srnd(Seed ? Seed : 31415);
  ReplicationsStarted = 0;

  // 15. The nodes observed per replication or batch.
  NumPVs = pvModel->getNumPVs();

  // A second instance of the reward model lets a terminating run work out
  // its observations on another thread. Not while tracing, and not when a
  // manager will connect (then the run stays on one thread).
  if (IsTerminating && !TarvexTrace && !XMLTrace && !WaitForSocket &&
      pvModel->CanDeferObservation()) {
    ShadowModel.reset(Study->NewPVModel(true));
    if (ShadowModel && ShadowModel->getNumPVs() == NumPVs) {
      for (int i = 0; i < NumPVs; i++)
        ShadowModel->getNode(i)->StopTime = pvModel->getNode(i)->StopTime;
      ShadowModel->ConsiderOnly(indices.data(), static_cast<int>(indices.size()));
      // Settle the second model's state layout now, on this thread.
      std::vector<char> image(pvModel->StateSize() > 0 ? pvModel->StateSize() : 1);
      pvModel->CurrentState(image.data());
      ShadowModel->SetState(image.data());
      pvModel->CurrentState(image.data());
      if (!ShadowModel->CanDeferObservation()) ShadowModel.reset();
    } else {
      ShadowModel.reset();
    }
  }
  return true;
}

SimulatorClass::~SimulatorClass() {
  DestructConnectivityList();
  eventList.reset();
  for (int i = 0; i < NumUnits; i++) Groups[i]->EventRecord = nullptr;
  EventRecords.clear();
  Connection.reset();
  ListenSocket.reset();
  Trace.reset();
  TarvexTraceFile.reset();
  XMLTraceFile.reset();
  // Run has finished the files; a simulator destroyed without running
  // (tests drive its parts) finishes them here.
  FinishResultFiles();
  delete ValuePacket;
  delete SquarePacket;
  ValuePacket = SquarePacket = nullptr;
  ShadowModel.reset();
  pvModel = nullptr;
  Study.reset();
}

void SimulatorClass::Run() {
  if (WaitForSocket) {
    Connection.reset(WaitForSimMgrConnection(kManagerWaitMs));
    if (!Connection) StopFlag = kStop;
  }
  if (IsTerminating)
    TerminatingSimulation();
  else
    SteadyStateSimulation();

  // Every file finished and checked before the outcome is decided.
  Connection.reset();
  FinishResultFiles();
  Trace->printFooter();
  std::cout << "Actions fired: " << ActionsFired << std::endl;
  std::cout << "CPU time (s): " << static_cast<double>(clock() - StartClock) / CLOCKS_PER_SEC
            << std::endl;
  DecideExitStatus();
}

void SimulatorClass::DecideExitStatus() {
  if (OutputFailed) {
    ExitStatus = 1;  // reported when the write failed
    return;
  }
  if (StopSignal) {
    std::cout.flush();
    std::cerr << "!! Stopped by " << TarvexProcess::SignalName(StopSignal) << " after "
              << ReplicationCount << " replications" << std::endl;
    ExitStatus = 128 + StopSignal;
  } else if (!LinkEndReason.empty()) {
    std::cout.flush();
    std::cerr << "!! The run ended early after " << ReplicationCount
              << " replications: " << LinkEndReason << std::endl;
    ExitStatus = kExitLinkEnded;
  }
}

bool SimulatorClass::StopSignalArrived() {
  if (StopSignal || StopFlag != kRunning) return false;
  const int signal = TarvexProcess::TerminationSignal();
  if (!signal) return false;
  StopSignal = signal;
  return true;
}
