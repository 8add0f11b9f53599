#include "pages/AsyncCookie.h"

#include "config/ProviderError.h"
#include "config/XMLAccumulator.h"
#include "config/XmlEscape.h"
#include "config/XmlFile.h"
#include "config/XmlNode.h"
#include "pages/MonitorPage.h"
#include "platform/LockedFile.h"
#include "platform/Time.h"
#include "process/DiagLog.h"
#include "server/HttpResponse.h"
#include "server/UrlParsing.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

std::uint32_t ReadNumber(const XmlNode& element, const char* name, std::uint32_t fallback) {
  XmlNode* attribute = FindAttribute(&element, name);
  if (attribute == nullptr) {
    DiagLog(kLogMonitoringSetup, "AsyncCookie construct XML parse failed to attribute %s\n", name);
    return fallback;
  }
  return static_cast<std::uint32_t>(std::strtoul(attribute->Value().c_str(), nullptr, 10));
}

std::string ChildText(const XmlNode& element, const char* name) {
  XmlNode* child = FindElement(&element, name);
  return child != nullptr ? child->Value() : std::string();
}

bool Before(std::uint32_t a, std::uint32_t b) { return static_cast<std::int32_t>(a) < static_cast<std::int32_t>(b); }

void Reply(IOBase* io, const std::string& text) { WriteStandardResponse(*io, "200 OK", text.data(), text.size()); }

}  // namespace

void AsyncCookie::WriteXml(XMLAccumulator& xml) const {
  xml.OpenElement("async-cookie");
  xml.AddAttribute("holdtime", holdtime);
  xml.AddAttribute("holduntil", holduntil);
  xml.AddAttribute("creationtime", creationtime);
  xml.AddAttribute("completiontime", completiontime);
  xml.AddAttribute("uniquetimet", uniquetimet);
  xml.AddAttribute("progress", progress);
  xml.AddAttribute("expiretime", expiretime);
  xml.AddElement("outside", outside);
  xml.AddElement("unique", unique);
  xml.AddElement("result", result);
  xml.CloseElement();
}

AsyncCookie AsyncCookie::FromXml(const XmlNode& element) {
  AsyncCookie cookie;
  // Signed fields are stored in decimal with their sign; read back through
  // the unsigned form they keep their value.
  cookie.holdtime = static_cast<std::int32_t>(ReadNumber(element, "holdtime", kDefaultHoldTime));
  cookie.holduntil = ReadNumber(element, "holduntil", 0);
  cookie.creationtime = ReadNumber(element, "creationtime", 0);
  cookie.completiontime = ReadNumber(element, "completiontime", 0);
  cookie.progress = static_cast<std::int32_t>(ReadNumber(element, "progress", 0));
  cookie.uniquetimet = ReadNumber(element, "uniquetimet", 0);
  cookie.expiretime = ReadNumber(element, "expiretime", 0);
  cookie.outside = ChildText(element, "outside");
  cookie.unique = ChildText(element, "unique");
  cookie.result = ChildText(element, "result");
  cookie.asyncId = cookie.outside + "!" + cookie.unique;
  return cookie;
}

AsyncCookieArchive::AsyncCookieArchive() = default;

AsyncCookieArchive::~AsyncCookieArchive() = default;

void AsyncCookieArchive::SetClock(std::function<std::uint32_t()> clock) {
  std::lock_guard<std::mutex> guard(lock_);
  clock_ = std::move(clock);
}

std::uint32_t AsyncCookieArchive::Now() const {
  return clock_ ? clock_() : static_cast<std::uint32_t>(platform::CurrentEpochSeconds());
}

void AsyncCookieArchive::SetArchiveName(const std::string& fileName) {
  std::lock_guard<std::mutex> guard(lock_);
  archiveName_ = fileName;
  LoadLocked();
  AgeLocked();
}

std::string AsyncCookieArchive::ArchiveName() const {
  std::lock_guard<std::mutex> guard(lock_);
  return archiveName_;
}

void AsyncCookieArchive::GetUniqueValue(std::uint32_t& number, std::string& text) {
  std::lock_guard<std::mutex> guard(lock_);
  GetUniqueValueLocked(number, text);
}

void AsyncCookieArchive::GetUniqueValueLocked(std::uint32_t& number, std::string& text) {
  std::uint32_t candidate = Now();
  while (candidate != 0 && uniques_.count(candidate) != 0) --candidate;
  if (candidate == 0) DiagLog(kLogHeartbeat, "AsyncCookieArchive::GetUniqueValue hits 0; this should not happen!\n");
  char digits[16];
  std::snprintf(digits, sizeof digits, "%010x", candidate);
  uniques_.insert(candidate);
  number = candidate;
  text = digits;
}

AsyncCookie AsyncCookieArchive::CreateCookie(const std::string& outside, std::int32_t holdTime,
                                             std::uint32_t expiryDelay) {
  std::lock_guard<std::mutex> guard(lock_);
  dirty_ = true;
  AsyncCookie cookie;
  GetUniqueValueLocked(cookie.uniquetimet, cookie.unique);
  cookie.outside = outside;
  cookie.holdtime = holdTime;
  cookie.progress = 0;
  cookie.completiontime = 0;
  cookie.holduntil = 0;
  cookie.creationtime = Now();
  cookie.expiretime = cookie.creationtime + expiryDelay;
  cookie.asyncId = outside + "!" + cookie.unique;
  cookies_[cookie.asyncId] = cookie;
  return cookie;
}

bool AsyncCookieArchive::SetCookieResult(const std::string& asyncId, const std::string& result,
                                         std::int32_t progress) {
  std::lock_guard<std::mutex> guard(lock_);
  auto found = cookies_.find(asyncId);
  if (found == cookies_.end()) {
    DiagLog(kLogHeartbeat, "AsyncCookieArchive::SetCookieResult found no match for [%s]\n", asyncId.c_str());
    return false;
  }
  AsyncCookie& cookie = found->second;
  cookie.progress = progress;
  cookie.result = result;
  if (progress == kProgressComplete) {
    cookie.completiontime = Now();
    cookie.holduntil = cookie.completiontime + static_cast<std::uint32_t>(cookie.holdtime);
  }
  dirty_ = true;
  return true;
}

bool AsyncCookieArchive::GetCookieResult(const std::string& asyncId, std::string& text) {
  std::lock_guard<std::mutex> guard(lock_);
  auto found = cookies_.find(asyncId);
  if (found == cookies_.end()) {
    DiagLog(kLogHeartbeat, "AsyncCookieArchive::GetCookieResult found no match for [%s]\n", asyncId.c_str());
    return false;
  }
  const AsyncCookie& cookie = found->second;
  // The result is markup of the page's own making and goes in unchanged.
  if (cookie.IsComplete())
    text = "<async-complete>" + cookie.result + "</async-complete>";
  else
    text = "<async-inprogress progress=\"" + std::to_string(cookie.progress) + "\">" + cookie.result +
           "</async-inprogress>";
  return true;
}

bool AsyncCookieArchive::GetAsyncResult(const std::string& asyncId, std::string& text) {
  // The id comes from the requester: escaped, so that it cannot break the
  // element it stands in.
  std::string id = EscapeXml(asyncId, XmlEscapeMode::AttributeValue);
  std::string inner;
  if (GetCookieResult(asyncId, inner)) {
    text = "<async-result id=\"" + id + "\" >" + inner + "</async-result>";
    return true;
  }
  text = "<async-result-nomatch id=\"" + id + "\" ></async-result-nomatch>";
  return false;
}

void AsyncCookieArchive::ListMatches(const std::string& outside, XMLAccumulator& xml) {
  std::lock_guard<std::mutex> guard(lock_);
  xml.OpenElement("async-id-matches");
  for (const auto& entry : cookies_)
    if (entry.second.outside == outside) xml.AddElement("async-cookie", entry.second.asyncId);
  xml.CloseElement();
}

void AsyncCookieArchive::StatusDocument(std::string& text) {
  std::lock_guard<std::mutex> guard(lock_);
  StatusLocked(text);
}

void AsyncCookieArchive::StatusLocked(std::string& text) {
  XMLAccumulator xml;
  xml.OpenElement("async-results");
  if (!archiveName_.empty()) xml.AddAttribute("archive", archiveName_);
  xml.AddAttribute("time-now", Now());
  xml.AddAttribute("last-aged", lastAged_);
  for (const auto& entry : cookies_) entry.second.WriteXml(xml);
  xml.CloseElement();
  xml.GetXml(text, 0);
}

void AsyncCookieArchive::AgeCookies() {
  std::lock_guard<std::mutex> guard(lock_);
  AgeLocked();
}

void AsyncCookieArchive::AgeLocked() {
  DiagLog(kLogHeartbeat, "AsyncCookieArchive::AgeCookies\n");
  std::uint32_t now = Now();
  lastAged_ = now;
  std::vector<std::string> noted;
  for (const auto& entry : cookies_) {
    const AsyncCookie& cookie = entry.second;
    if (!cookie.IsComplete() && Before(cookie.expiretime, now)) {
      DiagLog(kLogHeartbeat, "AsyncCookieArchive::AgeCookies cookie[%s] is expired\n", entry.first.c_str());
    } else if (cookie.IsComplete() && Before(cookie.holduntil, now)) {
      DiagLog(kLogHeartbeat, "AsyncCookieArchive::AgeCookies cookie[%s] is beyond hold time\n", entry.first.c_str());
    } else {
      continue;
    }
    noted.push_back(entry.first);
    uniques_.erase(cookie.uniquetimet);
    dirty_ = true;
  }
  for (const std::string& id : noted) {
    if (cookies_.erase(id) != 0)
      DiagLog(kLogHeartbeat, "AsyncCookieArchive::AgeCookies cookie[%s] discard\n", id.c_str());
    else
      DiagLog(kLogCore, "AsyncCookieArchive::AgeCookies cookie[%s] not found, can't discard!\n", id.c_str());
  }
  TermLocked();
}

void AsyncCookieArchive::Term() {
  std::lock_guard<std::mutex> guard(lock_);
  TermLocked();
}

void AsyncCookieArchive::TermLocked() {
  if (!dirty_) return;
  dirty_ = false;
  DiagLog(kLogHeartbeat, "AsyncCookieArchive::Term\n");
  if (archiveName_.empty()) {
    if (!cookies_.empty())
      DiagLog(kLogCore, "AsyncCookieArchive::Term has cookies to serialize but no archive name is configured!\n");
    return;
  }
  XMLAccumulator xml;
  xml.OpenElement("async");
  xml.AddAttribute("last-aged", lastAged_);
  for (const auto& entry : cookies_) entry.second.WriteXml(xml);
  xml.CloseElement();
  std::string text;
  xml.GetXml(text, 0);

  platform::LockedFile file;
  if (file.Open(archiveName_) != platform::LockedFile::OpenResult::Opened) {
    DiagLog(kLogCore, "AsyncCookieArchive::Term couldn't open %s\n", archiveName_.c_str());
    dirty_ = true;  // the next save tries again
    return;
  }
  bool written = file.ReplaceContent(text.data(), text.size());
  written = file.Close() && written;
  if (!written) {
    DiagLog(kLogCore, "AsyncCookieArchive::Term couldn't write %s\n", archiveName_.c_str());
    dirty_ = true;
  }
}

void AsyncCookieArchive::LoadCookies() {
  std::lock_guard<std::mutex> guard(lock_);
  LoadLocked();
}

void AsyncCookieArchive::LoadLocked() {
  XmlNode* loaded = nullptr;
  if (LoadXmlFile(archiveName_, &loaded, nullptr) != 0 || loaded == nullptr) {
    DiagLog(kLogHeartbeat, "AsyncCookieArchive::LoadCookies couldn't parse contents of %s (perhaps it was not there at all)\n",
            archiveName_.c_str());
    AgeLocked();
    return;
  }
  std::unique_ptr<XmlNode> document(loaded);
  DiagLog(kLogHeartbeat, "AsyncCookieArchive::LoadCookies parsing contents of %s\n", archiveName_.c_str());
  XmlNode* root = FindElement(document.get(), "async");
  if (root == nullptr) {
    DiagLog(kLogHeartbeat, "AsyncCookieArchive::LoadCookies XML parse failed to find %s tag\n", "async");
    return;
  }
  for (const XmlNode* child : root->Children()) {
    if (child->Kind() != XmlKind::Element) continue;
    if (!XmlNamesEqual(child->Name(), "async-cookie")) {
      DiagLog(kLogHeartbeat, "AsyncCookieArchive::LoadCookies XML parse failed to find %s tag\n", "async-cookie");
      continue;
    }
    AsyncCookie cookie = AsyncCookie::FromXml(*child);
    uniques_.insert(cookie.uniquetimet);
    DiagLog(kLogHeartbeat, "AsyncCookieArchive::LoadCookies adds cookie [%s,%x]\n", cookie.asyncId.c_str(),
            cookie.uniquetimet);
    cookies_[cookie.asyncId] = std::move(cookie);
  }
  AgeLocked();
}

AsyncCookie AsyncCookieArchive::StartOperation(const std::string& outside, std::int32_t holdTime,
                                               std::uint32_t expiryDelay, std::string& asyncId,
                                               std::string& replyText) {
  AsyncCookie cookie = CreateCookie(outside, holdTime, expiryDelay);
  asyncId = cookie.asyncId;
  XMLAccumulator xml;
  xml.OpenElement("async-operation");
  xml.AddAttribute("async-id", cookie.asyncId);
  xml.CloseElement();
  xml.GetXml(replyText, 0);
  return cookie;
}

bool AsyncCookieArchive::SetResultWithXml(const std::string& asyncId, std::int32_t progress,
                                          const ProviderErrorList& errors, const XMLAccumulator& xml) {
  std::string body;
  errors.AppendXml(body);
  xml.AppendXml(body, 0);
  return SetCookieResult(asyncId, body, progress);
}

unsigned AsyncCookieArchive::ReplyWithStatus(IOBase* io) {
  DiagLog(kLogHeartbeat, "MonitorPage::ReplyWithAsyncStatus\n");
  std::string text;
  StatusDocument(text);
  Reply(io, text);
  return kHttpOk;
}

bool AsyncCookieArchive::HandleRequest(const char* query, IOBase* io) {
  if (MonitorPage::IsAsyncStatusRequest(query)) {
    ReplyWithStatus(io);
    return true;
  }
  QueryStringMap values(query);
  const std::string& id = values.Value("async-id");
  if (!values.Value("async-id-match-request").empty() && !id.empty()) {
    XMLAccumulator xml;
    ListMatches(id, xml);
    std::string text;
    xml.GetXml(text, 0);
    Reply(io, text);
    return true;
  }
  if (!values.Value("async-result-request").empty() && !id.empty()) {
    std::string text;
    GetAsyncResult(id, text);
    Reply(io, text);
    return true;
  }
  return false;
}

bool AsyncCookieArchive::Find(const std::string& asyncId, AsyncCookie& cookie) const {
  std::lock_guard<std::mutex> guard(lock_);
  auto found = cookies_.find(asyncId);
  if (found == cookies_.end()) return false;
  cookie = found->second;
  return true;
}

std::size_t AsyncCookieArchive::Size() const {
  std::lock_guard<std::mutex> guard(lock_);
  return cookies_.size();
}

bool AsyncCookieArchive::IsDirty() const {
  std::lock_guard<std::mutex> guard(lock_);
  return dirty_;
}

std::uint32_t AsyncCookieArchive::LastAged() const {
  std::lock_guard<std::mutex> guard(lock_);
  return lastAged_;
}

bool AsyncCookieArchive::UniqueInUse(std::uint32_t number) const {
  std::lock_guard<std::mutex> guard(lock_);
  return uniques_.count(number) != 0;
}
