// A page's monitored items: named timers on the server's elapsed-time clock.
#pragma once

#include "server/ServedPage.h"

#include <cstdint>
#include <list>
#include <mutex>
#include <string>
#include <vector>

struct MonitoredItem {
  std::string ID;
  std::string description;
  std::uint32_t interval = 0;
  std::uint32_t remains = 0;
  bool renews = false;
  bool initial = false;

  // name;description;interval;remains
  std::string Text() const;
};

// Results of schedule changes; the names are also the collector's reply words.
enum ScheduleResult : int {
  kScheduleNone = 0,
  kScheduleDeleted = 1,
  kScheduleAdded = 2,
  kScheduleModified = 3,
  kScheduleReplaced = 4,
  kScheduleCommError = 5,
  kScheduleUnknown = 6,
};
const char* ScheduleResultName(int result);
// The code whose name equals the text exactly; kScheduleUnknown otherwise.
int ScheduleResultFromName(const std::string& name);

// Thread-safe: request handlers change items while the server thread settles.
class PageSchedule {
 public:
  int Add(const std::string& name, const std::string& description, std::uint32_t interval, bool renews, bool initial);
  // 1 when an item of that name was removed, else 0.
  int Remove(const std::string& name);
  // kScheduleModified for an existing item, else it is added (kScheduleAdded).
  int Modify(const std::string& name, std::uint32_t interval);
  void SetActive(bool active);
  bool IsActive() const;

  // Adds elapsed seconds and takes out the items that fell due, in order.
  std::vector<MonitoredItem> Settle(std::uint32_t elapsedSeconds);
  std::uint32_t NextTimeout() const;
  std::uint32_t SecondsPassed() const;
  bool IsEmpty() const;
  bool IsIdle() const;
  std::vector<MonitoredItem> Items() const;

  // Rows of name, description, interval, remains, inserted as they come
  // (rows with other cell counts or an interval of 0 or less are skipped).
  void Import(const std::vector<std::vector<std::string>>& rows, bool dueNow);

 private:
  void Insert(const MonitoredItem& item);
  void Recompute();
  bool RemoveLocked(const std::string& name);

  mutable std::mutex lock_;
  std::list<MonitoredItem> items_;
  bool active_ = true;
  std::uint32_t secondsPassed_ = 0;
  std::uint32_t nextTimeout_ = kNothingDue;
};
