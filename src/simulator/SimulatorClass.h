// SimulatorClass: the driver. Create does all set-up from the command line
// (study, result files, trace, reward and atomic model, connectivity, event
// list, generator) and returns; Run performs the simulation and prints the
// run summary; the destructor finishes the result files. Each simulator
// owns its study, so several may be built one after another in a process.
#ifndef TARVEX_SIMULATOR_SIMULATORCLASS_H
#define TARVEX_SIMULATOR_SIMULATORCLASS_H

#include <atomic>
#include <cstdint>
#include <ctime>
#include <fstream>
#include <iosfwd>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "base/BaseActionClass.h"
#include "base/BaseGroupClass.h"
#include "base/Heap.h"
#include "base/List.h"
#include "simulator/CommandOptions.h"
#include "simulator/DataPacket.h"
#include "simulator/Event.h"
#include "simulator/EventList.h"
#include "simulator/Scheduler.h"

class BaseStudyClass;
class ObservationBatch;
class ObservationPipeline;
class PathTally;
class PVModel;
class PerformanceVariableNode;
class TarvexSocket;
class TraceFile;
class TraceFileContainer;

// The settings chosen on the command line are the public fields inherited
// from SimulatorSettings (CommandOptions.h); the schedule and the step are
// those of the Scheduler it is (Scheduler.h).
class SimulatorClass : public SimulatorSettings, public Scheduler {
 public:
  enum RandomNumberGeneratorType {
    LaggedFibonacciGenerator = 0,
    TauswortheGenerator = 1,
    MersenneTwisterGenerator = 2,
  };
  static const char* to_string(RandomNumberGeneratorType type);

  // Run states.
  static const int kRunning = 0;
  static const int kFinishing = 1;
  static const int kStop = 2;
  // Capacity of the packet queues, also the output throttle's threshold.
  static const int kQueueSize = 50;
  // CPU seconds an output pass stands for: on average over the run without
  // a manager; since the last pass with one connected.
  static constexpr double kPassSeconds = 0.2;
  static constexpr double kManagedPassSeconds = 0.02;

  // How long the manager link waits, in milliseconds. A wait that runs out
  // ends the link (and, but for the first, the run; see EndLink).
  static const int kManagerWaitMs = 60000;  // -w: for a manager to connect
  static const int kSecretWaitMs = 5000;    // for a connected manager's secret
  static const int kCommandWaitMs = 5000;   // for the rest of a command once its byte came
  static const int kSendStallMs = 10000;    // for a manager that takes nothing sent to it
  static const int kWaitSliceMs = 100;      // waits look for a stop signal this often
  // The environment variable that holds the manager's shared secret.
  static constexpr const char* kSecretVariable = "TARVEX_MANAGER_SECRET";
  static const size_t kLongestSecret = wire::kLongestSecret;

  // Exit statuses besides 0 and 1 (usage, set-up and write failures): the
  // manager link ended the run early; a signal stopped it (128 + signal).
  static const int kExitLinkEnded = 3;

  // The simulator set up from the command line (see Create); on a set-up
  // failure, or for -K, ends the process with Create's exit status.
  SimulatorClass(int argc, char** argv);
  // The simulator set up from the command line, ready to Run. Null when
  // set-up ends early, with the exit status in *exitStatus (1 after the
  // failure's message; 0 for -K, after the model's summary) and no result
  // file created or changed (but for one opened before a later one failed).
  static std::unique_ptr<SimulatorClass> Create(int argc, char** argv, int* exitStatus);
  // Not meant to be used: ends the process with exit code 1.
  SimulatorClass();
  ~SimulatorClass();
  SimulatorClass(const SimulatorClass&) = delete;
  SimulatorClass& operator=(const SimulatorClass&) = delete;

  // ---- command line ------------------------------------------------------
  // ParseCommandLine on this simulator's settings, with the confirmations on
  // standard output: 0 on success, 1 on failure (after its message on
  // standard error).
  int16_t ParseCommandLineOptions(int argc, char** argv);
  // The usage text, on standard error.
  void PrintUsage();

  // ---- the run -----------------------------------------------------------
  // The whole run: waits for the manager (-w), simulates, finishes and
  // checks the result files and prints the summary. ExitStatus then tells
  // how it went; a run cut short says why in one line on standard error.
  void Run();
  void TerminatingSimulation();
  // One replication from the current (initial) state to the end time, the
  // nodes completed at the end; the caller collects and resets.
  void SimulateReplication();
  // With -R: reseeds the generator for the next replication from the seed
  // and the replication's number, so that replication k of any run with the
  // same seed and generator starts from the same point of the stream.
  void RestartRandomStream();
  // The terminating run on two threads: this one simulates and saves the
  // state at every observation, a second one works the observations out on
  // another instance of the reward model and writes them. The same
  // replications, observations and files as the one-thread run.
  // False, having done nothing but set-up, when no second thread could be
  // started.
  bool PipelinedTerminatingSimulation();
  // The second thread's work: observations, packets and output passes.
  void ObserveReplications(ObservationPipeline* pipeline);
  static unsigned long StaticObserveThreadFunc(void* simulator);
  void SteadyStateSimulation();

  // ---- step failures, steady-state batches -------------------------------
  [[noreturn]] void HandleInvalidDistParams(BaseActionClass* action, const std::string& message);
  void CheckCompletedBatches(PerformanceVariableNode** nodes, int* valueCounts, int* squareCounts);

  // ---- result files ------------------------------------------------------
  std::unique_ptr<std::ofstream> CreateAsciiFile(const char* name);
  void CloseAsciiFile(std::ofstream& out);
  std::unique_ptr<std::ofstream> CreateBinFile(const char* name);
  // Creates a binary result file that must not exist yet, without writing
  // to it; null (with the reason in *error) when it exists or cannot be
  // made. A file that already exists is never touched.
  std::unique_ptr<std::ofstream> CreateNewBinFile(const std::string& name, std::string* error);
  std::string CreateBinFileHeader(int fileVersion);
  void UpdateBinFileHeader(std::ofstream& out);
  void CloseBinFile(std::ofstream& out);
  void OutputDataBinary(TarvexSocket* socket, std::ostream* stream, DataPacket* values,
                        DataPacket* squares);
  void OutputDataCSV(std::ostream& out, DataPacket* values, DataPacket* squares);
  // Formats a value as the ASCII file writes it ("%.10lf" without trailing
  // zeros, keeping the digit after the point).
  static std::string FormatAsciiValue(double value);

  // ---- packets and output passes -----------------------------------------
  DataPacket* CreateDataPacket(int numPVs);
  // The packets a loop fills: the values, and the squared values only when
  // KeepSquares.
  void CreatePackets();
  bool CheckReportSize(double cpuSeconds);
  int OutputThreadFunc();
  static unsigned long StaticOutputThreadFunc(void* simulator);
  void ResetDataPacketBuffer();

  // ---- manager link ------------------------------------------------------
  // Listens (on ListenAddress, searching upwards from Port), then announces
  // the port and waits up to waitMs (-1: no limit) for a manager, which
  // must first send the secret when one is set. The connection, or null
  // (the reason recorded, see EndLink).
  TarvexSocket* WaitForSimMgrConnection(int waitMs);
  // Polls for one command and handles it.
  void ListenToSimMgr(TarvexSocket* connection);
  void ListenToSimMgrLoop(TarvexSocket* connection);
  void OutputCPUTime(TarvexSocket* connection, double seconds);
  static unsigned long StaticSocketThreadFunc(void* simulator);
  unsigned long SocketThreadFunc();
  // Sends to the manager, giving up when it takes nothing for kSendStallMs;
  // a failure ends the link (EndLink). True when sent.
  bool SendToManager(TarvexSocket* connection, const char* bytes, int n);
  // The link is over (nothing more is sent) and the run stops. A reason
  // given while the run was still going makes it a run cut short by the
  // link (exit status 3, the reason reported); the first reason counts.
  void EndLink(const std::string& reason);

  // The manager's shared secret (from kSecretVariable); empty: none.
  std::string Secret;

  // ---- run-time state ----------------------------------------------------
  // In a two-thread run the simulating thread writes the schedule's fields
  // (Scheduler, from ActionsFired on) at every firing and the observing
  // thread writes those from ReplicationCount on: each group starts on a
  // cache line of its own, so that neither thread's writes keep taking the
  // other's lines away.
  // The run state; atomic because the thread that writes the observations
  // may stop the run.
  std::atomic<int32_t> StopFlag{kRunning};
  clock_t StartClock = 0;

  // The model, through the study (the reward model and the units are the
  // Scheduler's pvModel, Groups and NumUnits).
  std::unique_ptr<BaseStudyClass> Study;
  List<BaseGroupClass> GroupList;
  List<BaseActionClass> ActionList;
  BaseActionClass** Actions = nullptr;
  int NumActions = 0;
  int NumPVs = 0;

  // Output.
  alignas(64) int32_t ReplicationCount = 0;
  int64_t ReplicationsStarted = 0;  // by the simulating thread (numbers the -R streams)
  double ElapsedCPU = 0.0;
  std::unique_ptr<std::ofstream> AsciiStream;
  std::unique_ptr<std::ofstream> BinStream;
  PacketQueue FreeQueue{kQueueSize};
  PacketQueue FullQueue{kQueueSize};
  DataPacket* ValuePacket = nullptr;
  // Null unless KeepSquares: no writer needs the squared values (the files
  // and the manager take the values, from which the statistics follow).
  DataPacket* SquarePacket = nullptr;
  bool KeepSquares = false;
  int32_t PacketCapacity = 1000;
  int32_t OutputPasses = 0;
  double LastPassCPU = 0.0;  // CPU seconds at the last output pass
  // True once a result file write failed (the run then stops).
  bool OutputFailed = false;
  // Encodes the observation records (its buffer is reused).
  wire::RecordEncoder Records;

  // Manager connection. LinkFailed is set when the link ended (EndLink):
  // nothing more is sent, and the files still receive every field.
  std::unique_ptr<TarvexSocket> ListenSocket;
  bool LinkFailed = false;
  std::unique_ptr<TarvexSocket> Connection;
  // Why the link cut the run short (empty: it did not).
  std::string LinkEndReason;
  // The stop signal that ended the run early (0: none).
  int StopSignal = 0;

  // Trace.
  std::unique_ptr<TraceFileContainer> Trace;
  std::unique_ptr<TraceFile> TarvexTraceFile;
  std::unique_ptr<TraceFile> XMLTraceFile;

  // Steady state: next boundary and completed batches per steady-state node.
  std::unique_ptr<Heap<double>> BoundaryHeap;
  std::unique_ptr<Heap<int>> BatchHeap;

  // Exit status that main returns: 0, 1 after a failed result write,
  // kExitLinkEnded, or 128 + the stop signal.
  int ExitStatus = 0;

  // Deferred observation: a second instance of the reward model on which the
  // observing thread replays the saved observations (the batch the
  // simulating thread saves into is the Scheduler's Recording).
  std::unique_ptr<PVModel> ShadowModel;
  int64_t FiringsBeforeRun = 0;

  // -P: the attack paths of the replications, written when the files are
  // finished (the Scheduler's Paths points to it).
  std::unique_ptr<PathTally> PathsTally;

 private:
  void HandOverPackets(int k);
  // Counts the observation just stored at slot k of the packets and hands
  // the packets over when they are full or the run has its replications.
  void CountObservation(int& k, int reportSize);
  // Builds an empty simulator that SetUp completes.
  struct SetUpLater {};
  explicit SimulatorClass(SetUpLater);
  // Everything set-up does; false when it ends early, with the exit status
  // (after printing the message of a failure).
  bool SetUp(int argc, char** argv, int* exitStatus);
  // Drops what an unfinished set-up left for the destructor to finish.
  void AbandonSetUp();
  // Stop signals (SIGINT, SIGTERM). True, once, when one arrived while the
  // run was going: it is recorded and the caller stops after the current
  // replication.
  bool StopSignalArrived();
  // Ends a terminating run after a stop signal: hands over the k
  // observations of the current packets and writes everything queued.
  void FinishAfterSignal(int k);
  // Writes the ASCII trailer and the final binary header, closes both files
  // and checks every step (a failure is a write failure).
  void FinishResultFiles();
  // The exit status and, for a run cut short, its one line.
  void DecideExitStatus();
  void ReportWriteFailure(const char* what, const std::string& name);
  bool CheckStream(std::ostream* stream, const char* what, const std::string& name);
};

#endif
