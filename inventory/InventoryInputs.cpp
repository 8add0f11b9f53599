#include "inventory/InventoryInputs.h"

#include "platform/ResolvedPath.h"
#include "process/DiagLog.h"

namespace {
const std::size_t kMaxCoreName = 255;

bool IsNameCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
         c == '_';
}

// The folder's resolved path when it is one; empty otherwise.
std::string ResolvedFolder(const std::string& folder) {
  std::string resolved;
  if (folder.empty() || platform::ResolvePath(folder, &resolved) != platform::PathKind::Directory)
    return std::string();
  return resolved;
}
}  // namespace

bool IsCoreServerName(const std::string& core) {
  if (core.empty() || core.size() > kMaxCoreName) return false;
  for (char c : core)
    if (!IsNameCharacter(c)) return false;
  return true;
}

std::string ConfinedReconfigFile(const std::string& name, const std::string& clientFolder) {
  std::string file;
  const char* refusal = nullptr;
  switch (platform::ResolvePath(name, &file)) {
    case platform::PathKind::Missing:
      refusal = "it does not exist";
      break;
    case platform::PathKind::RegularFile:
      break;
    default:
      refusal = "it is not a regular file";
      break;
  }
  if (refusal == nullptr) {
    std::string client = ResolvedFolder(clientFolder);
    std::string working = ResolvedFolder(".");
    if (!(!client.empty() && platform::PathIsWithin(file, client)) &&
        !(!working.empty() && platform::PathIsWithin(file, working)))
      refusal = "it lies outside the client folder and the working directory";
  }
  if (refusal == nullptr) return file;
  DiagLog(kLogWarning, "Reconfig file %s refused: %s\n", name.c_str(), refusal);
  return std::string();
}
