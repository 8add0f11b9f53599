// Records of operations a page answers at once and finishes later: who asked,
// a unique id, progress, the result, and how long the record is kept; and the
// page's archive of them, saved to and loaded from an XML file.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>

class IOBase;
class ProviderErrorList;
class XMLAccumulator;
class XmlNode;

// The progress that completes a record.
constexpr std::int32_t kProgressComplete = 100;

struct AsyncCookie {
  static constexpr std::int32_t kDefaultHoldTime = 30;

  std::string outside;  // the requester's own id
  std::string unique;   // ten lower-case hex digits of uniquetimet
  std::string result;
  std::string asyncId;  // outside "!" unique: the key
  std::uint32_t creationtime = 0;
  std::uint32_t completiontime = 0;  // 0 until progress 100
  std::uint32_t expiretime = 0;
  std::int32_t holdtime = kDefaultHoldTime;
  std::uint32_t holduntil = 0;
  std::int32_t progress = 0;
  std::uint32_t uniquetimet = 0;

  bool IsComplete() const { return completiontime != 0; }
  // Element "async-cookie" in the accumulator's current element.
  void WriteXml(XMLAccumulator& xml) const;
  // From such an element; missing attributes take their defaults.
  static AsyncCookie FromXml(const XmlNode& element);
};

// Reached from session threads and the server thread: every operation takes
// the archive's own lock.
class AsyncCookieArchive {
 public:
  AsyncCookieArchive();
  ~AsyncCookieArchive();
  AsyncCookieArchive(const AsyncCookieArchive&) = delete;
  AsyncCookieArchive& operator=(const AsyncCookieArchive&) = delete;

  // Seconds since 1970; the system clock unless a test gives another.
  void SetClock(std::function<std::uint32_t()> clock);

  // Stores the name, loads the file, then ages the records.
  void SetArchiveName(const std::string& fileName);
  std::string ArchiveName() const;

  // A new record (progress 0); returns a copy of what was stored.
  AsyncCookie CreateCookie(const std::string& outside, std::int32_t holdTime, std::uint32_t expiryDelay);
  // Progress kProgressComplete (100) completes the record; false when the
  // id is unknown.
  bool SetCookieResult(const std::string& asyncId, const std::string& result, std::int32_t progress);
  // "<async-complete>" or "<async-inprogress progress=...>" around the result.
  bool GetCookieResult(const std::string& asyncId, std::string& text);
  // "<async-result id=...>" around GetCookieResult, or the nomatch element.
  bool GetAsyncResult(const std::string& asyncId, std::string& text);
  // Element "async-id-matches" with the ids of the records of one requester.
  void ListMatches(const std::string& outside, XMLAccumulator& xml);
  // Element "async-results" with every record, rendered.
  void StatusDocument(std::string& text);

  void AgeCookies();
  // Saves when something changed since the last save.
  void Term();
  void GetUniqueValue(std::uint32_t& number, std::string& text);
  void LoadCookies();

  // For the page: the operation reply, results with an error list, the
  // status reply and the query-driven requests.
  AsyncCookie StartOperation(const std::string& outside, std::int32_t holdTime, std::uint32_t expiryDelay,
                             std::string& asyncId, std::string& replyText);
  bool SetResultWithXml(const std::string& asyncId, std::int32_t progress, const ProviderErrorList& errors,
                        const XMLAccumulator& xml);
  unsigned ReplyWithStatus(IOBase* io);
  // True when the query was an asynchronous request and has been answered.
  bool HandleRequest(const char* query, IOBase* io);

  // Inspection.
  bool Find(const std::string& asyncId, AsyncCookie& cookie) const;
  std::size_t Size() const;
  bool IsDirty() const;
  std::uint32_t LastAged() const;
  bool UniqueInUse(std::uint32_t number) const;

 private:
  std::uint32_t Now() const;
  void GetUniqueValueLocked(std::uint32_t& number, std::string& text);
  void AgeLocked();
  void TermLocked();
  void LoadLocked();
  void StatusLocked(std::string& text);

  // Public operations take it; the *Locked steps run under it.
  mutable std::mutex lock_;
  std::map<std::string, AsyncCookie> cookies_;
  std::set<std::uint32_t> uniques_;
  std::string archiveName_;
  std::uint32_t lastAged_ = 0;
  bool dirty_ = false;
  std::function<std::uint32_t()> clock_;
};
