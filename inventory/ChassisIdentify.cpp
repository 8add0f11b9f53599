#include "inventory/ChassisIdentify.h"

#include "config/CIRegKey.h"
#include "inventory/SnmpTools.h"
#include "process/DiagLog.h"
#include "server/HttpResponse.h"
#include "server/UrlParsing.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <system_error>

namespace {
const char kClientKey[] = "SOFTWARE\\Corvane\\Fleetwarden\\WinClient";
const char kLightSubtree[] = "1.3.6.1.4.1.232.6.2.12";
const char kLightState[] = "1.3.6.1.4.1.232.6.2.12.3.0";
const char kDriveArraySubtree[] = "1.3.6.1.4.1.232.3.2";
const char kDriveIndexText[] = "232.3.2.5.1.1.2.0";
const char kDriveTarget[] = "1.3.6.1.4.1.232.3.2.5.1.1.56.0.";
const char kControllerText[] = "232.3.2.2.1.1.22.0";
const char kControllerTarget[] = "1.3.6.1.4.1.232.3.2.2.1.1.22.0";
const char kNoController[] = "4294967295";
const char kReplyFormat[] =
    "<ChassisIdentifies><ChassisIdentify><ChassisState>%s</ChassisState></ChassisIdentify></ChassisIdentifies>\n";
const std::uint32_t kIdleAfterRequest = 5;
const unsigned kDriveDelay = 1100;
const unsigned kControllerDelay = 1500;
const std::size_t kDriveIndexMax = 63;

// The registry's "HPSM"; 0 when it is missing or not a four-byte number.
std::atomic<std::uint32_t> agentMode{0};

std::uint32_t ReadAgentMode() {
  std::uint32_t mode = 0;
  CIRegKey key;
  if (key.Open(kRegLocalMachine, kClientKey, kRegKeyAllAccess) == kRegSuccess) {
    std::uint32_t size = sizeof mode;
    std::uint32_t value = 0;
    // A shorter value (a short string) is no number.
    if (key.QueryValue(&value, "HPSM", &size) == kRegSuccess && size == sizeof value) mode = value;
    key.Close();
  }
  agentMode = mode;
  return mode;
}

// A drive index goes into a command line: only the digits and dots of an
// identifier, so that an agent's text cannot add arguments.
bool IsIdentifierTail(const std::string& text) {
  if (text.empty()) return false;
  return std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || c == '.'; });
}
}  // namespace

int RunDriveSequence(int count, const DriveSequencePause& pause) {
  SnmpVarBindList walked, drives, controllers;
  if (!SnmpWalk(kDriveArraySubtree, walked)) return 0;
  if (!FindBindings(kDriveIndexText, walked, drives)) return 0;
  if (!FindBindings(kControllerText, walked, controllers)) return 0;
  for (int pass = 0; pass < count; ++pass) {
    for (const SnmpVarBind& drive : drives) {
      std::string index = drive.GetValue().substr(0, kDriveIndexMax);
      if (!IsIdentifierTail(index)) {
        DiagLog(kLogWarning, "ChassisIdentify::DriveSequence skips drive index [%s]\n", index.c_str());
        continue;
      }
      if (!pause(kDriveDelay)) return 0;
      SnmpSetInteger(kDriveTarget + index, 12);
    }
    auto controller = std::find_if(controllers.begin(), controllers.end(), [](const SnmpVarBind& b) {
      return b.GetOid().find(kControllerText) != std::string::npos;
    });
    if (controller != controllers.end() && controller->GetValue() != kNoController) {
      if (!pause(kControllerDelay)) return 0;
      SnmpSetInteger(kControllerTarget, 15);
    }
    std::reverse(drives.begin(), drives.end());
  }
  return 0;
}

DriveSequences::~DriveSequences() { StopAll(); }

bool DriveSequences::Start(int count) {
  std::lock_guard<std::mutex> guard(lock_);
  ReapFinished();
  runners_.emplace_back(new Runner);
  Runner* runner = runners_.back().get();
  try {
    runner->thread = std::thread([this, runner, count] {
      RunDriveSequence(count, [this](unsigned milliseconds) { return Pause(milliseconds); });
      runner->done = true;
    });
  } catch (const std::system_error&) {
    runners_.pop_back();
    DiagLog(kLogHardError, "ChassisIdentify::Post could not start the drive sequence\n");
    return false;
  }
  return true;
}

bool DriveSequences::AnyRunning() {
  std::lock_guard<std::mutex> guard(lock_);
  ReapFinished();
  return !runners_.empty();
}

void DriveSequences::RequestStop() {
  std::lock_guard<std::mutex> guard(lock_);
  stopping_ = true;
  stopChanged_.notify_all();
}

void DriveSequences::StopAll() {
  // Sequences started while others are joined are stopped as well.
  for (;;) {
    std::list<std::unique_ptr<Runner>> stopped;
    {
      std::lock_guard<std::mutex> guard(lock_);
      stopping_ = true;
      stopChanged_.notify_all();
      stopped.swap(runners_);
      if (stopped.empty()) {
        stopping_ = false;
        return;
      }
    }
    for (auto& runner : stopped) runner->thread.join();
  }
}

void DriveSequences::SetPause(DriveSequencePause pause) {
  std::lock_guard<std::mutex> guard(lock_);
  pause_ = std::move(pause);
}

bool DriveSequences::Pause(unsigned milliseconds) {
  std::unique_lock<std::mutex> guard(lock_);
  if (stopping_) return false;
  if (pause_) {
    DriveSequencePause pause = pause_;
    guard.unlock();
    bool goOn = pause(milliseconds);
    guard.lock();
    return goOn && !stopping_;
  }
  return !stopChanged_.wait_for(guard, std::chrono::milliseconds(milliseconds), [this] { return stopping_; });
}

void DriveSequences::ReapFinished() {
  for (auto it = runners_.begin(); it != runners_.end();) {
    if ((*it)->done) {
      (*it)->thread.join();
      it = runners_.erase(it);
    } else {
      ++it;
    }
  }
}

ChassisIdentify::ChassisIdentify() : MonitorPage("/chassisIdentify", false) {}

ChassisIdentify::~ChassisIdentify() { sequences.StopAll(); }

int ChassisIdentify::Initialize() { return 0; }

void ChassisIdentify::Cleanup() { sequences.StopAll(); }

void ChassisIdentify::OnShutdown() {
  sequences.RequestStop();
  MonitorPage::OnShutdown();
}

bool ChassisIdentify::IsIdle() { return !sequences.AnyRunning() && MonitorPage::IsIdle(); }

bool ChassisIdentify::IsChassisIdentifySupported() { return ReadAgentMode() > 0; }

bool ChassisIdentify::GetChassisState(std::string& text) {
  int state = 2;
  return ReadChassisState(text, state);
}

bool ChassisIdentify::ReadChassisState(std::string& text, int& state) {
  state = 2;
  text = "Unavailable";
  if (ReadAgentMode() == 2) {
    SnmpVarBindList walked, found;
    if (SnmpWalk(kLightSubtree, walked) && FindBindings(kLightState, walked, found)) {
      text = found[0].GetValue();
      state = std::atoi(text.c_str());
      switch (state) {
        case 3:
          text = "on";
          break;
        case 4:
          text = "off";
          break;
        case 5:
          text = "blinking";
          state = 3;
          break;
        default:
          text = "unsupported";
          break;
      }
    }
  }
  chassisState = state;
  return state >= 3;
}

unsigned ChassisIdentify::Get(IOBase* io, const char*, const char*, const char* const*, const char* const*,
                              unsigned, unsigned) {
  std::string text;
  int state = 2;
  unsigned status = kHttpBadRequest;
  if (ReadChassisState(text, state)) {
    // The text is one of the state words, so the reply stays small.
    char body[sizeof kReplyFormat + 16];
    int length = std::snprintf(body, sizeof body, kReplyFormat, text.c_str());
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof body) length = 0;
    StandardResponse(io, "200 OK", body, static_cast<std::size_t>(length));
    status = kHttpOk;
  }
  // Otherwise no reply: the requester sees the connection closed.
  SetIdleTimeout(kIdleAfterRequest);
  return status;
}

unsigned ChassisIdentify::Post(IOBase* io, const char*, const char* query, const char* const*, const char* const*,
                               unsigned, unsigned) {
  QueryStringMap pairs(query);
  const std::string& command = pairs.Value("cmd");
  std::string text;
  int state = 2;
  unsigned status;
  if (!command.empty() && ReadChassisState(text, state)) {
    int wanted = 2;
    if (command == "on" || command == "blinking")
      wanted = 3;
    else if (command == "off")
      wanted = 4;
    if (wanted == state) {
      status = kHttpNotModified;
    } else {
      SnmpSet(SnmpVarBind(kLightState, wanted));
      status = kHttpOk;
    }
  } else {
    int count = std::atoi(pairs.Value("mesw").c_str());
    if (count != 0) {
      status = sequences.Start(count) ? kHttpOk : kHttpExpectationFailed;
    } else {
      status = kHttpBadRequest;
    }
  }
  const char* line = status == kHttpOk ? "200 OK"
                     : status == kHttpNotModified ? "304 Not Modified"
                     : status == kHttpExpectationFailed ? "417 Expectation Failed"
                                                        : "400 Bad Request";
  StandardResponse(io, line, "", 0);
  SetIdleTimeout(kIdleAfterRequest);
  return status;
}
