#include "platform/mapping_refusal.h"

#include <cerrno>
#include <fstream>
#include <string>

#include "platform/platform.h"

namespace hlv::platform {
namespace {

// At most this much of a file is looked at: both files are a line or a few bytes.
constexpr std::streamsize kMostRead = 256;

bool readSmallFile(const char* absolutePath, std::string& text) {
  std::ifstream file(current().hostPath(absolutePath), std::ios::binary);
  if (!file) return false;
  text.assign(static_cast<std::size_t>(kMostRead), '\0');
  file.read(text.data(), kMostRead);
  text.resize(static_cast<std::size_t>(file.gcount()));
  return !file.bad();
}

}  // namespace

KernelLockdown readKernelLockdown() {
  std::string text;
  if (!readSmallFile(kLockdownPath, text)) return KernelLockdown::kUnknown;
  const std::size_t open = text.find('[');
  const std::size_t close = text.find(']', open == std::string::npos ? 0 : open);
  if (open == std::string::npos || close == std::string::npos) return KernelLockdown::kUnknown;
  const std::string mode = text.substr(open + 1, close - open - 1);
  if (mode == "none") return KernelLockdown::kNone;
  if (mode == "integrity") return KernelLockdown::kIntegrity;
  if (mode == "confidentiality") return KernelLockdown::kConfidentiality;
  return KernelLockdown::kUnknown;
}

SecureBoot readSecureBoot() {
  std::string bytes;
  // A machine that did not boot through such firmware has no variable at all.
  if (!readSmallFile(kSecureBootPath, bytes) || bytes.size() < 5) return SecureBoot::kUnknown;
  return bytes[4] == 1 ? SecureBoot::kOn : SecureBoot::kOff;
}

MappingRefusal diagnoseMappingRefusal(int error) {
  MappingRefusal refusal;
  refusal.error = error;
  refusal.lockdown = readKernelLockdown();
  refusal.secureBoot = readSecureBoot();
  refusal.root = current().realUserId() == 0;
  switch (error) {
    case EPERM: {
      // A locked-down kernel refuses the mapping itself, with EPERM, to root as to anyone.
      const bool lockedDown = refusal.lockdown == KernelLockdown::kIntegrity ||
                              refusal.lockdown == KernelLockdown::kConfidentiality;
      // Without the lockdown file (securityfs not mounted), Secure Boot is what locks a kernel
      // down on the distributions that do so.
      const bool lockedBySecureBoot =
          refusal.lockdown == KernelLockdown::kUnknown && refusal.secureBoot == SecureBoot::kOn;
      refusal.cause =
          lockedDown || lockedBySecureBoot ? RefusalCause::kLockdown : RefusalCause::kPermission;
      break;
    }
    case EACCES:
      refusal.cause = RefusalCause::kPermission;
      break;
    case EROFS:
      refusal.cause = RefusalCause::kReadOnly;
      break;
    case ENOENT:
    case ENODEV:
    case ENXIO:
      refusal.cause = RefusalCause::kNoRegion;
      break;
    case kWindowTooSmallError:
      refusal.cause = RefusalCause::kWindowTooSmall;
      break;
    default:
      refusal.cause = RefusalCause::kOther;
      break;
  }
  return refusal;
}

}  // namespace hlv::platform
