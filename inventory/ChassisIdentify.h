// "/chassisIdentify": reports and switches the chassis identification light
// through the local SNMP agent, and runs the background sequence of writes
// to the drive-array objects of the same agent.
#pragma once

#include "pages/MonitorPage.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

// A pause of the background sequence; false when the sequence is to stop.
using DriveSequencePause = std::function<bool(unsigned milliseconds)>;

// The background sequence: walks the drive-array subtree and, count times,
// writes 12 to every drive (1100 ms before each, the drive order reversed
// after every pass) and 15 to the controller (1500 ms before). Result 0.
int RunDriveSequence(int count, const DriveSequencePause& pause);

// Drive sequences running on threads of their own. They are stopped and
// joined before their owner goes, so that none outlives the page (or the
// process's log) it runs under.
class DriveSequences {
 public:
  DriveSequences() = default;
  ~DriveSequences();
  DriveSequences(const DriveSequences&) = delete;
  DriveSequences& operator=(const DriveSequences&) = delete;

  // Starts one sequence with its own copy of the count; false when no
  // thread could be made.
  bool Start(int count);
  bool AnyRunning();
  // Cuts every pause short; running sequences end at their next step.
  void RequestStop();
  // Stops and joins them all. Later starts run again.
  void StopAll();
  // Replaces the real pauses (tests); stop requests still end the sequence.
  void SetPause(DriveSequencePause pause);

 private:
  struct Runner {
    std::thread thread;
    std::atomic<bool> done{false};
  };
  bool Pause(unsigned milliseconds);
  void ReapFinished();

  std::mutex lock_;
  std::condition_variable stopChanged_;
  bool stopping_ = false;
  DriveSequencePause pause_;
  std::list<std::unique_ptr<Runner>> runners_;
};

class ChassisIdentify : public MonitorPage {
 public:
  ChassisIdentify();
  ~ChassisIdentify() override;

  int Initialize() override;
  void Cleanup() override;
  unsigned Get(IOBase* io, const char* path, const char* query, const char* const* headerNames,
               const char* const* headerValues, unsigned origin, unsigned onSession) override;
  unsigned Post(IOBase* io, const char* path, const char* query, const char* const* headerNames,
                const char* const* headerValues, unsigned origin, unsigned onSession) override;
  // A running drive sequence keeps the provider from its idle exit.
  void OnShutdown() override;
  bool IsIdle() override;

  // "HPSM" is a four-byte number above 0.
  static bool IsChassisIdentifySupported();
  // The light's state text; true when the agent reported 3 or more.
  bool GetChassisState(std::string& text);
  int ChassisState() const { return chassisState; }

  DriveSequences& Sequences() { return sequences; }

 private:
  // As GetChassisState, with the state this call read (requests overlap).
  bool ReadChassisState(std::string& text, int& state);

  std::atomic<std::int32_t> chassisState{2};
  DriveSequences sequences;
};
