// Restarting an adapter's driver: unbind and bind through the owning driver only, a bind cut
// short by a signal made again.
#include "device/driver_control.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/linux_platform.h"
#include "platform/platform.h"
#include "tests/support/trace_capture.h"
#include "tests/support/fake_sysfs.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace hlv {
namespace {

using test::FakeSysfs;

constexpr const char* kBdf = "0000:03:00.0";

AdapterInfo adapterAt(const std::string& interfaceName = "eth0") {
  AdapterInfo adapter;
  adapter.bdf = kBdf;
  adapter.interfaceName = interfaceName;
  adapter.sysfsPath = FakeSysfs::devicePath(kBdf);
  return adapter;
}

// Replaces a driver file by a device like /dev/full, whose writes fail (making one needs root).
void makeWritesFail(FakeSysfs& sysfs, const std::string& driver, const std::string& name) {
  const std::string path = sysfs.hostPath("/sys/bus/pci/drivers/" + driver + "/" + name);
  std::filesystem::remove(path);
  ASSERT_EQ(mknod(path.c_str(), S_IFCHR | 0600, makedev(1, 7)), 0) << path;
}

// Replaces a driver file by a link to a file outside sysfs, which must stay as it is.
const std::string kLinkTarget = "a file the driver files must not reach\n";
void plantLink(FakeSysfs& sysfs, const std::string& driver, const std::string& name) {
  const std::string path = sysfs.hostPath("/sys/bus/pci/drivers/" + driver + "/" + name);
  const std::string target = sysfs.hostPath("/target");
  test::writeFile(target, kLinkTarget);
  std::filesystem::remove(path);
  std::filesystem::create_symlink(target, path);
}

struct RestartCase {
  const char* name;
  std::function<void(FakeSysfs&)> setup;
  std::string interfaceName;
  uint32_t status;
  std::string failurePoint = "";  // the failure record expected, e.g. "9248:8:1 "; empty: none
  int error = 0;                  // the error number that record carries
  std::string driver = "";        // the driver whose files receive the address; empty: none
  bool unbindWritten = false;
  bool bindWritten = false;
  bool needsRoot = false;  // the setup makes a device node
};

void PrintTo(const RestartCase& c, std::ostream* os) {
  *os << c.name;
}

// A driver file's contents, or a note when it is no regular file (missing, a directory, a link,
// or a device standing in for a file that rejects writes).
std::string driverFileContents(const FakeSysfs& sysfs, const std::string& driver,
                               const std::string& name) {
  const std::string path = sysfs.hostPath("/sys/bus/pci/drivers/" + driver + "/" + name);
  if (!std::filesystem::is_regular_file(std::filesystem::symlink_status(path))) return "<no file>";
  return sysfs.driverFile(driver, name);
}

class RestartDriver : public ::testing::TestWithParam<RestartCase> {};

TEST_P(RestartDriver, UnbindsAndBindsThroughTheOwningDriverOnly) {
  const RestartCase& c = GetParam();
  if (c.needsRoot && geteuid() != 0) GTEST_SKIP() << "making a device node needs root";
  test::TempDir dir;
  FakeSysfs sysfs(dir.path());
  sysfs.addDriver("halvern");
  sysfs.addDriver("halvern-fwd");
  if (c.setup) c.setup(sysfs);
  platform::RootedPlatform rooted(dir.path());
  platform::ScopedPlatform installed(rooted);
  test::TraceCapture capture;

  EXPECT_EQ(restartDriver(adapterAt(c.interfaceName)), c.status);
  if (test::fileExists(sysfs.hostPath("/target"))) {
    EXPECT_EQ(test::readFile(sysfs.hostPath("/target")), kLinkTarget);
  }

  const std::vector<std::string> lines = capture.lines();
  for (const char* driver : {"halvern", "halvern-fwd"}) {
    const bool chosen = c.driver == driver;
    for (const auto& [name, written] : {std::pair{"unbind", chosen && c.unbindWritten},
                                        std::pair{"bind", chosen && c.bindWritten}}) {
      const std::string contents = driverFileContents(sysfs, driver, name);
      if (contents == "<no file>") continue;
      // Exactly the 12-character address: no terminator, no line feed.
      EXPECT_EQ(contents, written ? kBdf : "") << driver << "/" << name;
    }
  }
  for (const char* point : {"9248:8:1 ", "9248:8:2 ", "9248:8:3 ", "9248:8:4 "}) {
    const std::vector<std::string> records = test::linesOf(lines, point);
    if (c.failurePoint != point) {
      EXPECT_TRUE(records.empty()) << point;
      continue;
    }
    ASSERT_EQ(records.size(), 1u) << point;
    EXPECT_NE(records[0].find(std::string("adapter \"") + kBdf + "\""), std::string::npos)
        << records[0];
    // What the maker's support reads to tell a missing driver from a refused address.
    const std::string errorText = ": errno " + std::to_string(c.error);
    EXPECT_TRUE(records[0].ends_with(errorText)) << records[0] << " should end with " << errorText;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Drivers, RestartDriver,
    ::testing::Values(
        RestartCase{"BoundToHalvern", [](FakeSysfs& s) { s.bindFunction(kBdf, "halvern"); }, "eth0",
                    0, "", 0, "halvern", true, true},
        RestartCase{"BoundToHalvernFwd", [](FakeSysfs& s) { s.bindFunction(kBdf, "halvern-fwd"); },
                    "eth0", 0, "", 0, "halvern-fwd", true, true},
        RestartCase{"OnlyTheForwardingDriverListsTheAddress",
                    [](FakeSysfs& s) {
                      s.bindFunction("0000:04:00.0", "halvern");
                      s.bindFunction(kBdf, "halvern-fwd");
                    },
                    "eth0", 0, "", 0, "halvern-fwd", true, true},
        RestartCase{"BothListTheAddressHalvernFirst",
                    [](FakeSysfs& s) {
                      s.bindFunction(kBdf, "halvern-fwd");
                      s.bindFunction(kBdf, "halvern");
                    },
                    "eth0", 0, "", 0, "halvern", true, true},
        // The unbind path is then the drivers directory followed by "/unbind", a file the kernel
        // does not offer there.
        RestartCase{"NeitherDriverListsTheAddress",
                    [](FakeSysfs& s) { s.bindFunction("0000:04:00.0", "halvern"); }, "eth0", 40,
                    "9248:8:1 ", ENOENT},
        RestartCase{
            "NoDriversDirectory",
            [](FakeSysfs& s) { std::filesystem::remove_all(s.hostPath("/sys/bus/pci/drivers")); },
            "eth0", 40, "9248:8:1 ", ENOENT},
        RestartCase{"NoInterfaceMeansNothingToRestart",
                    [](FakeSysfs& s) { s.bindFunction(kBdf, "halvern"); }, "unknown", 0, ""},
        RestartCase{"UnbindRejected",
                    [](FakeSysfs& s) {
                      s.bindFunction(kBdf, "halvern");
                      makeWritesFail(s, "halvern", "unbind");
                    },
                    "eth0", 40, "9248:8:2 ", ENOSPC, "halvern", false, false, true},
        RestartCase{"BindCannotBeOpened",
                    [](FakeSysfs& s) {
                      s.bindFunction(kBdf, "halvern");
                      std::filesystem::remove(s.hostPath("/sys/bus/pci/drivers/halvern/bind"));
                      std::filesystem::create_directory(
                          s.hostPath("/sys/bus/pci/drivers/halvern/bind"));
                    },
                    "eth0", 40, "9248:8:3 ", EISDIR, "halvern", true},
        RestartCase{"BindRejected",
                    [](FakeSysfs& s) {
                      s.bindFunction(kBdf, "halvern");
                      makeWritesFail(s, "halvern", "bind");
                    },
                    "eth0", 40, "9248:8:4 ", ENOSPC, "halvern", true, false, true},
        // A link in place of a driver file is not followed: root's write never lands elsewhere.
        RestartCase{"LinkInPlaceOfUnbindIsNotFollowed",
                    [](FakeSysfs& s) {
                      s.bindFunction(kBdf, "halvern");
                      plantLink(s, "halvern", "unbind");
                    },
                    "eth0", 40, "9248:8:1 ", ELOOP},
        RestartCase{"LinkInPlaceOfBindIsNotFollowed",
                    [](FakeSysfs& s) {
                      s.bindFunction(kBdf, "halvern");
                      plantLink(s, "halvern", "bind");
                    },
                    "eth0", 40, "9248:8:3 ", ELOOP, "halvern", true}),
    [](const ::testing::TestParamInfo<RestartCase>& info) { return info.param.name; });

// The restart runs while the operator's interrupt is held, but the signal still arrives and may
// break a waiting call off. Here the bind file is a pipe whose reader comes late, so its open
// waits, and a signal breaks that wait off: the open is made again and the driver is bound.
TEST(RestartDriverInterrupted, ABindBrokenOffByASignalIsMadeAgain) {
  test::TempDir dir;
  FakeSysfs sysfs(dir.path());
  sysfs.addDriver("halvern");
  sysfs.bindFunction(kBdf, "halvern");
  const std::string bind = sysfs.hostPath("/sys/bus/pci/drivers/halvern/bind");
  std::filesystem::remove(bind);
  ASSERT_EQ(mkfifo(bind.c_str(), 0600), 0);
  platform::RootedPlatform rooted(dir.path());
  platform::ScopedPlatform installed(rooted);

  // A handler that does not restart calls, as the program's own.
  struct sigaction action {};
  action.sa_handler = [](int) {};
  sigemptyset(&action.sa_mask);
  struct sigaction previous {};
  sigaction(SIGUSR1, &action, &previous);
  std::string written;
  const pthread_t restarting = pthread_self();
  std::thread kernel([&] {
    for (int i = 0; i < 10; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      pthread_kill(restarting, SIGUSR1);
    }
    // Read without waiting, for a while: a restart that gave up never opens its end.
    const int fd = open(bind.c_str(), O_RDONLY | O_NONBLOCK);
    char buffer[32];
    for (int i = 0; fd >= 0 && i < 400 && written.size() < std::strlen(kBdf); ++i) {
      const ssize_t n = read(fd, buffer, sizeof buffer);
      if (n > 0) written.append(buffer, static_cast<std::size_t>(n));
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (fd >= 0) close(fd);
  });
  const uint32_t status = restartDriver(adapterAt());
  kernel.join();
  sigaction(SIGUSR1, &previous, nullptr);

  EXPECT_EQ(status, kStatusDriverRestarted);
  EXPECT_EQ(sysfs.driverFile("halvern", "unbind"), kBdf);
  EXPECT_EQ(written, kBdf) << "the driver was left unbound";
}

}  // namespace
}  // namespace hlv
