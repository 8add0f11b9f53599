// SplitUrl, UrlDecode and QueryStringMap. SplitUrl's outputs are checked
// against each other (cut buffers give prefixes, each output alone is the
// same as all together); UrlDecode and the query map against small models
// written here from their rules.
#include "server/UrlParsing.h"
#include "support/FuzzCheck.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

// A buffer of exactly the size given, so that the sanitizer sees a write
// past it; filled with a mark to see what was written.
struct Buffer {
  explicit Buffer(std::size_t size) : bytes(new char[size]), size(size) { std::memset(bytes.get(), 'Z', size); }
  std::string Text() const { return std::string(bytes.get(), strnlen(bytes.get(), size)); }
  std::unique_ptr<char[]> bytes;
  std::size_t size;
};

struct Split {
  int result = 0;
  std::string scheme, user, password, host, path, remainder;
  std::uint16_t port = 0;
};

// sizes: scheme, user, password, host, path, remainder; 0 leaves the output out.
Split RunSplit(const char* url, const std::size_t (&sizes)[6], bool wantPort) {
  std::vector<std::unique_ptr<Buffer>> buffers;
  SplitUrlOutputs out;
  char** places[6] = {&out.scheme, &out.user, &out.password, &out.host, &out.path, &out.remainder};
  std::size_t* placeSizes[6] = {&out.schemeSize, &out.userSize, &out.passwordSize,
                                &out.hostSize,   &out.pathSize, &out.remainderSize};
  for (int i = 0; i < 6; ++i) {
    buffers.emplace_back(sizes[i] != 0 ? new Buffer(sizes[i]) : nullptr);
    if (sizes[i] != 0) {
      *places[i] = buffers.back()->bytes.get();
      *placeSizes[i] = sizes[i];
    }
  }
  std::uint16_t port = 0xBEEF;
  if (wantPort) out.port = &port;
  Split split;
  split.result = SplitUrl(url, out);
  FUZZ_CHECK(split.result == 0 || split.result == 1);
  std::string* texts[6] = {&split.scheme, &split.user, &split.password, &split.host, &split.path, &split.remainder};
  for (int i = 0; i < 6; ++i) {
    if (sizes[i] == 0) continue;
    // Every given output is a terminated text inside its buffer.
    FUZZ_CHECK(std::memchr(buffers[i]->bytes.get(), '\0', sizes[i]) != nullptr);
    *texts[i] = buffers[i]->Text();
  }
  if (wantPort) {
    FUZZ_CHECK(port != 0xBEEF || std::strstr(url, "48879") != nullptr);
    split.port = port;
  }
  return split;
}

void CheckPrefix(const std::string& cut, const std::string& full, std::size_t size) {
  FUZZ_CHECK_DETAIL(cut == full.substr(0, size - 1), "cut " + Printable(cut) + " full " + Printable(full));
}

int Hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string ModelDecode(const std::string& source) {
  std::string out;
  for (std::size_t i = 0; i < source.size(); ++i) {
    if (source[i] == '+') {
      out += ' ';
    } else if (source[i] == '%' && i + 2 < source.size() && Hex(source[i + 1]) >= 0 && Hex(source[i + 2]) >= 0) {
      out += static_cast<char>(Hex(source[i + 1]) * 16 + Hex(source[i + 2]));
      i += 2;
    } else {
      out += source[i];
    }
  }
  return out;
}

std::map<std::string, std::string> ModelQuery(const std::string& query) {
  std::map<std::string, std::string> map;
  std::size_t pos = 0;
  while (pos <= query.size()) {
    std::size_t amp = query.find('&', pos);
    if (amp == std::string::npos) amp = query.size();
    if (amp > pos) {
      std::string item = ModelDecode(query.substr(pos, amp - pos));
      item = item.substr(0, item.find('\0'));  // texts end at a decoded NUL
      const std::size_t equals = item.find('=');
      if (equals != std::string::npos) map[item.substr(0, equals)] = item.substr(equals + 1);
    }
    pos = amp + 1;
  }
  return map;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider provider(data, size);
  std::size_t cut[6];
  for (std::size_t& s : cut) s = provider.ConsumeIntegralInRange<std::size_t>(1, 24);
  const std::size_t decodeSize = provider.ConsumeIntegralInRange<std::size_t>(0, 40);
  const std::string text = provider.ConsumeRemainingBytesAsString();
  const char* url = text.c_str();  // the interfaces take texts: they end at a NUL
  const std::string source(url);

  const std::size_t room = source.size() + 1;
  const std::size_t whole[6] = {room, room, room, room, room, room};
  const Split full = RunSplit(url, whole, true);
  const Split partial = RunSplit(url, cut, true);
  FUZZ_CHECK(partial.result == full.result);
  FUZZ_CHECK(partial.port == full.port);
  CheckPrefix(partial.scheme, full.scheme, cut[0]);
  CheckPrefix(partial.user, full.user, cut[1]);
  CheckPrefix(partial.password, full.password, cut[2]);
  CheckPrefix(partial.host, full.host, cut[3]);
  CheckPrefix(partial.path, full.path, cut[4]);
  CheckPrefix(partial.remainder, full.remainder, cut[5]);
  // Each output alone is the same as with all of them.
  const std::string Split::*fields[6] = {&Split::scheme, &Split::user, &Split::password,
                                         &Split::host,   &Split::path, &Split::remainder};
  for (int i = 0; i < 6; ++i) {
    std::size_t one[6] = {0, 0, 0, 0, 0, 0};
    one[i] = room;
    const Split alone = RunSplit(url, one, false);
    FUZZ_CHECK(alone.result == full.result);
    FUZZ_CHECK(alone.*fields[i] == full.*fields[i]);
  }
  // The remainder starts at a delimiter; path and remainder are the tail of
  // the text.
  if (!full.remainder.empty()) FUZZ_CHECK(std::strchr("?#;", full.remainder[0]) != nullptr);
  FUZZ_CHECK(full.path.find_first_of("?#;") == std::string::npos);
  FUZZ_CHECK(source.find(full.path + full.remainder) != std::string::npos);
  const std::size_t zero[6] = {0, 0, 0, 0, 0, 0};
  FUZZ_CHECK(RunSplit(url, zero, false).result == full.result);

  // UrlDecode: counted, cut and whole.
  const std::string decoded = ModelDecode(source);
  FUZZ_CHECK(UrlDecode(nullptr, 0, url) == source.size() + 1);
  Buffer small(decodeSize);
  FUZZ_CHECK(UrlDecode(decodeSize != 0 ? small.bytes.get() : nullptr, decodeSize, url) == source.size() + 1);
  if (decodeSize != 0) {
    FUZZ_CHECK(std::memchr(small.bytes.get(), '\0', decodeSize) != nullptr);
    const std::size_t n = std::min(decoded.size(), decodeSize - 1);
    FUZZ_CHECK_DETAIL(std::memcmp(small.bytes.get(), decoded.data(), n) == 0 && small.bytes[n] == '\0',
                      "source " + Printable(source) + " model " + Printable(decoded));
  }
  Buffer big(decoded.size() + 1);
  UrlDecode(big.bytes.get(), big.size, url);
  FUZZ_CHECK(std::memcmp(big.bytes.get(), decoded.data(), decoded.size()) == 0 && big.bytes[decoded.size()] == '\0');

  // QueryStringMap against the model.
  const QueryStringMap map(url);
  const std::map<std::string, std::string> model = ModelQuery(source);
  FUZZ_CHECK_DETAIL(map.Size() == model.size(), "query " + Printable(source));
  std::vector<const char*> names;
  std::vector<std::string> expected;
  for (const auto& entry : model) {
    FUZZ_CHECK(map.Has(entry.first));
    FUZZ_CHECK(map.Value(entry.first) == entry.second);
    names.push_back(entry.first.c_str());
    expected.push_back(entry.second);
  }
  names.push_back(nullptr);
  std::vector<std::string> values;
  FUZZ_CHECK(map.GetAll(names.data(), values));
  FUZZ_CHECK(values == expected);
  const std::string absent = "absent\x01name";
  if (model.count(absent) == 0) {
    FUZZ_CHECK(!map.Has(absent) && map.Value(absent).empty());
    names.back() = absent.c_str();
    names.push_back(nullptr);
    values.clear();
    FUZZ_CHECK(!map.GetAll(names.data(), values));
    FUZZ_CHECK(values == expected);
  }
  return 0;
}
