// Request timings per page path, kept in the ".pagestats" file: every timed
// request reads, changes and writes it under the file's update lock.
#pragma once

#include "server/ServerServices.h"

#include <cstdint>
#include <map>
#include <string>

class XMLAccumulator;

class PageStats : public RequestRecorder {
 public:
  struct Entry {
    std::uint32_t getCount = 0, getSum = 0, postCount = 0, postSum = 0;
  };

  // Process-wide; empty file name until statistics are requested.
  static PageStats& Instance();

  // The file becomes programPath + ".pagestats".
  void SetFileName(const std::string& programPath);
  const std::string& FileName() const { return fileName_; }
  bool Enabled() const { return !fileName_.empty(); }

  // Adds one request of that many milliseconds; false when the file could
  // not be updated.
  bool Record(const std::string& path, bool isPost, std::uint32_t milliseconds);
  void RecordRequest(const char* path, bool isPost, std::uint32_t milliseconds) override {
    Record(path, isPost, milliseconds);
  }
  // Every entry of the file, by path; false when it cannot be read.
  bool Load(std::map<std::string, Entry>& entries) const;
  // page elements with get and post counts, sums and averages.
  void WritePageElements(XMLAccumulator& xml) const;

 private:
  std::string fileName_;
};
