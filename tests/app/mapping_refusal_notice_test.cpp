// Why the kernel refused to map an adapter's registers, found from the machine's lockdown file,
// its Secure Boot variable and the user, and how the operator is told.
#include "app/mapping_refusal_notice.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/adapter_entry.h"
#include "device/pci_discovery.h"
#include "platform/linux_platform.h"
#include "tests/support/fake_updater.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace hlv {
namespace {

using platform::RefusalCause;

// A machine whose "/sys" lives in a temporary directory, run by the given user.
class Machine : public platform::RootedPlatform {
 public:
  Machine(const test::TempDir& dir, uid_t user) : RootedPlatform(dir.path()), user_(user) {}
  uid_t realUserId() const override { return user_; }

 private:
  uid_t user_;
};

// The variable's four attribute bytes, then its value.
std::string secureBootVariable(bool on) {
  return std::string("\x06\x00\x00\x00", 4) + (on ? '\x01' : '\x00');
}

struct RefusalCase {
  const char* what;
  std::optional<std::string> lockdown;  // the lockdown file; none: it cannot be read
  std::optional<bool> secureBoot;       // the variable; none: not booted so
  int error;
  uid_t user;
  RefusalCause cause;
  std::vector<std::string> told;  // what the explanation must say
};

void PrintTo(const RefusalCase& c, std::ostream* os) {
  *os << c.what;
}

const RefusalCase kRefusalCases[] = {
    {"integrity_lockdown_under_secure_boot",
     "none [integrity] confidentiality\n",
     true,
     EPERM,
     0,
     RefusalCause::kLockdown,
     {"locked down (integrity mode)", "Secure Boot is on",
      "turn Secure Boot off in the machine's firmware setup", "cannot be lifted"}},
    {"confidentiality_lockdown_from_the_command_line",
     "none integrity [confidentiality]\n",
     false,
     EPERM,
     0,
     RefusalCause::kLockdown,
     {"locked down (confidentiality mode)", "Secure Boot is not on", "'lockdown='"}},
    {"secure_boot_without_a_readable_lockdown_file",
     std::nullopt,
     true,
     EPERM,
     0,
     RefusalCause::kLockdown,
     {"Operation not permitted", "Secure Boot is on", "could not be read", "turn Secure Boot off"}},
    {"eperm_without_lockdown_is_a_permission",
     "[none] integrity confidentiality\n",
     true,
     EPERM,
     0,
     RefusalCause::kPermission,
     {"was refused (Operation not permitted)", "security policy"}},
    {"eperm_without_lockdown_file_or_secure_boot",
     std::nullopt,
     std::nullopt,
     EPERM,
     0,
     RefusalCause::kPermission,
     {"was refused"}},
    {"eacces_is_a_permission_even_under_lockdown",
     "none [integrity] confidentiality\n",
     true,
     EACCES,
     0,
     RefusalCause::kPermission,
     {"was refused (Permission denied)"}},
    {"eacces_for_another_user",
     std::nullopt,
     std::nullopt,
     EACCES,
     1000,
     RefusalCause::kPermission,
     {"must run as root"}},
    {"read_only_sysfs",
     std::nullopt,
     std::nullopt,
     EROFS,
     0,
     RefusalCause::kReadOnly,
     {"/sys is read-only", "read-write"}},
    {"no_region",
     std::nullopt,
     std::nullopt,
     ENOENT,
     0,
     RefusalCause::kNoRegion,
     {"no memory region", "still present"}},
    {"region_too_short_for_the_registers",
     std::nullopt,
     std::nullopt,
     platform::kWindowTooSmallError,
     0,
     RefusalCause::kWindowTooSmall,
     {"are not mapped: the register window is too small", "up to offset 0x7000",
      "at least 0x7004 bytes", "leaves it alone"}},
    {"something_else",
     std::nullopt,
     std::nullopt,
     EIO,
     0,
     RefusalCause::kOther,
     {"cannot be mapped (Input/output error)"}},
};

class MappingRefusal : public testing::TestWithParam<RefusalCase> {};

TEST_P(MappingRefusal, IsTracedToItsCauseAndExplained) {
  const RefusalCase& c = GetParam();
  test::TempDir dir;
  if (c.lockdown) test::writeFile(dir / "sys/kernel/security/lockdown", *c.lockdown);
  if (c.secureBoot)
    test::writeFile(dir.path() + platform::kSecureBootPath, secureBootVariable(*c.secureBoot));
  Machine machine(dir, c.user);
  platform::ScopedPlatform installed(machine);

  const platform::MappingRefusal refusal = platform::diagnoseMappingRefusal(c.error);
  EXPECT_EQ(refusal.cause, c.cause);
  const std::string text = mappingRefusalText(refusal, "enp1s0 (0000:01:00.0)");
  EXPECT_TRUE(text.starts_with("[!] ")) << text;
  EXPECT_NE(text.find("enp1s0 (0000:01:00.0)"), std::string::npos) << text;
  for (const std::string& part : c.told)
    EXPECT_NE(text.find(part), std::string::npos) << "missing '" << part << "' in\n" << text;
  if (c.user == 0) {
    EXPECT_EQ(text.find("must run as root"), std::string::npos) << text;
  }
}

INSTANTIATE_TEST_SUITE_P(Machines, MappingRefusal, testing::ValuesIn(kRefusalCases),
                         [](const auto& info) { return std::string(info.param.what); });

AdapterEntry entryRefusedWith(uint32_t index, const std::string& name, int error,
                              uint64_t windowLength = 0x400000) {
  auto adapter = std::make_unique<AdapterInfo>();
  adapter->bdf = "0000:0" + std::to_string(index + 1) + ":00.0";
  adapter->interfaceName = name;
  auto updater = std::make_unique<test::FakeUpdater>();
  updater->mappingError = error;
  updater->windowLength = windowLength;
  adapter->updater = std::move(updater);
  return AdapterEntry(index, std::move(adapter));
}

std::string explained(const std::vector<AdapterEntry>& entries) {
  char* buffer = nullptr;
  std::size_t size = 0;
  std::FILE* out = open_memstream(&buffer, &size);
  explainMappingRefusals(entries, out);
  std::fclose(out);
  std::string text(buffer, size);
  std::free(buffer);
  return text;
}

TEST(MappingRefusalNotice, EachCauseIsExplainedOnceWithEveryAdapterItConcerns) {
  test::TempDir dir;
  test::writeFile(dir / "sys/kernel/security/lockdown", "none [integrity] confidentiality\n");
  Machine machine(dir, 0);
  platform::ScopedPlatform installed(machine);
  std::vector<AdapterEntry> entries;
  entries.push_back(entryRefusedWith(0, "enp1s0", EPERM));
  entries.push_back(entryRefusedWith(1, "enp2s0", 0));
  entries.push_back(entryRefusedWith(2, "enp3s0", ENOENT));
  entries.push_back(entryRefusedWith(3, "enp4s0", EPERM));
  entries.push_back(entryRefusedWith(4, "enp5s0", platform::kWindowTooSmallError, 0x1000));
  entries.push_back(entryRefusedWith(5, "enp6s0", platform::kWindowTooSmallError, 0x4000));

  const std::string text = explained(entries);
  EXPECT_EQ(test::occurrences(text, "locked down"), 1u) << text;
  EXPECT_NE(text.find("enp1s0 (0000:01:00.0), enp4s0 (0000:04:00.0)"), std::string::npos) << text;
  EXPECT_EQ(test::occurrences(text, "no memory region"), 1u) << text;
  EXPECT_NE(text.find("enp3s0 (0000:03:00.0)"), std::string::npos) << text;
  EXPECT_EQ(text.find("enp2s0"), std::string::npos) << text;
  // Each short region is named with its own length.
  EXPECT_EQ(test::occurrences(text, "register window is too small"), 1u) << text;
  EXPECT_NE(text.find("enp5s0 (0000:05:00.0, region 0 of 0x1000 bytes), enp6s0 (0000:06:00.0, "
                      "region 0 of 0x4000 bytes)"),
            std::string::npos)
      << text;
}

TEST(MappingRefusalNotice, AdaptersThatWereMappedGiveNoNotice) {
  std::vector<AdapterEntry> entries;
  entries.push_back(entryRefusedWith(0, "enp1s0", 0));
  entries.push_back(AdapterEntry(1, std::make_unique<AdapterInfo>()));  // no updater opened
  EXPECT_EQ(explained(entries), "");
}

}  // namespace
}  // namespace hlv
