#include "pages/Schedule.h"

#include <cstdlib>

namespace {
const char* const kResultNames[] = {"none", "deleted", "added", "modified", "replaced", "commerror", "unknown"};
}

std::string MonitoredItem::Text() const {
  return ID + ";" + description + ";" + std::to_string(interval) + ";" + std::to_string(remains);
}

const char* ScheduleResultName(int result) {
  return result >= 0 && result <= kScheduleUnknown ? kResultNames[result] : "unknown";
}

int ScheduleResultFromName(const std::string& name) {
  for (int i = 0; i <= kScheduleCommError; ++i)
    if (name == kResultNames[i]) return i;
  return kScheduleUnknown;
}

void PageSchedule::Insert(const MonitoredItem& item) {
  auto it = items_.begin();
  while (it != items_.end() && it->remains < item.remains) ++it;
  items_.insert(it, item);
}

void PageSchedule::Recompute() {
  if (items_.empty()) {
    nextTimeout_ = kNothingDue;
    return;
  }
  std::uint32_t first = items_.front().remains;
  nextTimeout_ = first > secondsPassed_ ? first - secondsPassed_ : 0;
}

bool PageSchedule::RemoveLocked(const std::string& name) {
  for (auto it = items_.begin(); it != items_.end(); ++it) {
    if (it->ID == name) {
      items_.erase(it);
      return true;
    }
  }
  return false;
}

int PageSchedule::Add(const std::string& name, const std::string& description, std::uint32_t interval, bool renews,
                      bool initial) {
  std::lock_guard<std::mutex> guard(lock_);
  bool existed = RemoveLocked(name);
  MonitoredItem item;
  item.ID = name;
  item.description = description;
  item.interval = interval;
  item.remains = initial ? 0 : interval;
  item.renews = renews;
  item.initial = initial;
  Insert(item);
  Recompute();
  return existed ? kScheduleReplaced : kScheduleAdded;
}

int PageSchedule::Remove(const std::string& name) {
  std::lock_guard<std::mutex> guard(lock_);
  bool removed = RemoveLocked(name);
  if (removed) Recompute();
  return removed ? 1 : 0;
}

int PageSchedule::Modify(const std::string& name, std::uint32_t newInterval) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    for (auto it = items_.begin(); it != items_.end(); ++it) {
      if (it->ID != name) continue;
      MonitoredItem item = *it;
      items_.erase(it);
      std::uint32_t elapsed = item.interval > item.remains ? item.interval - item.remains : 0;
      if (elapsed > newInterval)
        item.remains = 0;
      else if (newInterval > item.interval)
        item.remains += newInterval - item.interval;
      else if (newInterval < item.interval)
        item.remains = item.remains > item.interval - newInterval ? item.remains - (item.interval - newInterval) : 0;
      item.interval = newInterval;
      Insert(item);
      Recompute();
      return kScheduleModified;
    }
  }
  Add(name, "created by call to modify", newInterval, true, false);
  return kScheduleAdded;
}

void PageSchedule::SetActive(bool active) {
  std::lock_guard<std::mutex> guard(lock_);
  active_ = active;
}

bool PageSchedule::IsActive() const {
  std::lock_guard<std::mutex> guard(lock_);
  return active_;
}

std::vector<MonitoredItem> PageSchedule::Settle(std::uint32_t elapsedSeconds) {
  std::lock_guard<std::mutex> guard(lock_);
  std::vector<MonitoredItem> due;
  if (!active_) return due;
  secondsPassed_ += elapsedSeconds;
  if (secondsPassed_ < nextTimeout_) {
    Recompute();
    return due;
  }
  while (!items_.empty() && items_.front().remains <= secondsPassed_) {
    due.push_back(items_.front());
    items_.pop_front();
  }
  if (due.empty()) return due;
  for (auto& item : items_) item.remains = item.remains > secondsPassed_ ? item.remains - secondsPassed_ : 0;
  for (auto item : due) {
    if (!item.renews) continue;
    item.remains = item.interval;
    Insert(item);
  }
  secondsPassed_ = 0;
  Recompute();
  return due;
}

std::uint32_t PageSchedule::NextTimeout() const {
  std::lock_guard<std::mutex> guard(lock_);
  return nextTimeout_;
}

std::uint32_t PageSchedule::SecondsPassed() const {
  std::lock_guard<std::mutex> guard(lock_);
  return secondsPassed_;
}

bool PageSchedule::IsEmpty() const {
  std::lock_guard<std::mutex> guard(lock_);
  return items_.empty();
}

bool PageSchedule::IsIdle() const {
  std::lock_guard<std::mutex> guard(lock_);
  return !active_ || items_.empty();
}

std::vector<MonitoredItem> PageSchedule::Items() const {
  std::lock_guard<std::mutex> guard(lock_);
  return std::vector<MonitoredItem>(items_.begin(), items_.end());
}

void PageSchedule::Import(const std::vector<std::vector<std::string>>& rows, bool dueNow) {
  std::lock_guard<std::mutex> guard(lock_);
  for (const auto& row : rows) {
    if (row.size() != 4 || std::atoi(row[2].c_str()) <= 0) continue;
    MonitoredItem item;
    item.ID = row[0];
    item.description = row[1];
    item.interval = static_cast<std::uint32_t>(std::atoi(row[2].c_str()));
    int remains = std::atoi(row[3].c_str());
    item.remains = dueNow || remains < 0 ? 0 : static_cast<std::uint32_t>(remains);
    Insert(item);
  }
  Recompute();
}
