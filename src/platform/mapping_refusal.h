// Why the kernel refused to map an adapter's registers, from what the machine says about
// itself: the kernel's lockdown mode, the Secure Boot state of the firmware, and who runs the
// program. Everything is read through the platform, so that a lab can stand for the machine.
#pragma once

#include <cerrno>
#include <cstdint>

namespace hlv::platform {

// "/sys/kernel/security/lockdown": the mode in brackets ("none [integrity] confidentiality").
enum class KernelLockdown : uint8_t { kUnknown, kNone, kIntegrity, kConfidentiality };
// The firmware's "SecureBoot" variable: four attribute bytes, then 1 (on) or 0 (off).
enum class SecureBoot : uint8_t { kUnknown, kOff, kOn };

enum class RefusalCause : uint8_t {
  kLockdown,        // the kernel is locked down: no process may map device memory
  kPermission,      // denied otherwise: not root, a security module, a container
  kReadOnly,        // sysfs is mounted read-only (a container)
  kNoRegion,        // the function or its memory region is not there
  kWindowTooSmall,  // the region does not reach every register the program uses: not mapped
  kOther,           // anything else; the errno tells
};

// What the program records instead of a kernel errno when it does not map a region that is too
// short for the registers it uses. Opening or mapping a resource file never fails with it.
inline constexpr int kWindowTooSmallError = ERANGE;

struct MappingRefusal {
  int error = 0;  // the errno of the failed open or mapping
  RefusalCause cause = RefusalCause::kOther;
  KernelLockdown lockdown = KernelLockdown::kUnknown;
  SecureBoot secureBoot = SecureBoot::kUnknown;
  bool root = false;  // the real user is root
};

KernelLockdown readKernelLockdown();
SecureBoot readSecureBoot();

// Looks at the machine and tells why a mapping failed with `error`. EPERM under a lockdown mode
// that forbids the mapping, or under Secure Boot when the lockdown file cannot be read, is the
// lockdown's; otherwise EPERM and EACCES are a missing permission.
MappingRefusal diagnoseMappingRefusal(int error);

inline constexpr char kLockdownPath[] = "/sys/kernel/security/lockdown";
inline constexpr char kSecureBootPath[] =
    "/sys/firmware/efi/efivars/SecureBoot-8be4df61-93ca-11d2-aa0d-00e098032b8c";

}  // namespace hlv::platform
