// The sandbox keeps every path of the services inside its root.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "platform/xserver/sandbox.h"
#include "platform/xserver/xservices.h"

namespace fs = std::filesystem;

namespace {

TEST(XserverSandbox, StartsWithTheSystemFixturesAndRemovesItsRoot) {
  fs::path root;
  {
    xstub::Sandbox box;
    root = box.Root();
    EXPECT_TRUE(fs::is_directory(root));
    struct stat st;
    ASSERT_EQ(xf86stat("/dev/mem", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    EXPECT_EQ(st.st_rdev, xstub::MakeDevice(1, 1));
    EXPECT_NE(box.ReadFile("/proc/devices")->find("Character devices:"), std::string::npos);
    EXPECT_TRUE(box.ReadFile("/proc/modules").has_value());
    // Nothing of the real system shows through.
    EXPECT_EQ(xf86stat("/dev/null", &st), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(xf86stat("/etc/passwd", &st), -1);
  }
  EXPECT_FALSE(fs::exists(root));
}

// Every service that takes a path refuses one that climbs out of the root,
// and nothing appears beside the root.
TEST(XserverSandbox, RefusesDotDotEscapesForEveryService) {
  xstub::Sandbox box;
  std::vector<std::string> seen;
  box.SetEscapeHandler([&](const std::string& path) { seen.push_back(path); });
  const std::string outside_name = "xstub-escape-" + std::to_string(getpid());
  const fs::path outside = box.Root().parent_path() / outside_name;
  const std::string paths[] = {
      "/../" + outside_name,
      "/dev/../../" + outside_name,
      "../" + outside_name,
      "/proc/./../../" + outside_name,
  };
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    const char* p = path.c_str();
    errno = 0;
    EXPECT_EQ(xf86open(p, O_WRONLY | O_CREAT, 0644), -1);
    EXPECT_EQ(errno, EACCES);
    EXPECT_EQ(xf86mkdir(p, 0755), -1);
    EXPECT_EQ(errno, EACCES);
    EXPECT_EQ(xf86mknod(p, S_IFCHR | 0666, xstub::MakeDevice(200, 0)), -1);
    EXPECT_EQ(errno, EACCES);
    EXPECT_EQ(xf86fopen(p, "w"), nullptr);
    EXPECT_EQ(errno, EACCES);
    EXPECT_EQ(xf86chmod(p, 0777), -1);
    EXPECT_EQ(xf86remove(p), -1);
    struct stat st;
    EXPECT_EQ(xf86stat(p, &st), -1);
    EXPECT_FALSE(fs::exists(outside));
  }
  EXPECT_EQ(box.Escapes().size(), 4u * 7u);
  EXPECT_EQ(seen, box.Escapes());
}

TEST(XserverSandbox, DotDotThatStaysInsideIsFine) {
  xstub::Sandbox box;
  FILE* f = xf86fopen("/dev/../proc/./devices", "r");
  ASSERT_NE(f, nullptr);
  char line[256];
  ASSERT_NE(xf86fgets(line, sizeof line, f), nullptr);
  EXPECT_STREQ(line, "Character devices:\n");
  EXPECT_EQ(xf86fclose(f), 0);
  EXPECT_TRUE(box.Escapes().empty());
}

TEST(XserverSandbox, SymbolicLinksLeadingOutAreRefused) {
  xstub::Sandbox box;
  fs::path outside = box.Root().string() + "-outside";
  fs::create_directory(outside);
  fs::create_symlink(outside, box.HostPath("/dev/out-absolute"));
  fs::create_symlink("../../..", box.HostPath("/dev/out-relative"));
  fs::create_symlink(outside / "file", box.HostPath("/dev/out-file"));

  for (const char* path : {"/dev/out-absolute/file", "/dev/out-relative/file", "/dev/out-file"}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(xf86open(path, O_WRONLY | O_CREAT, 0644), -1);
    EXPECT_EQ(errno, EACCES);
    EXPECT_EQ(xf86fopen(path, "w"), nullptr);
    EXPECT_EQ(errno, EACCES);
  }
  EXPECT_TRUE(fs::is_empty(outside));
  EXPECT_EQ(box.Escapes().size(), 6u);
  // The link itself lies inside and may be removed.
  EXPECT_EQ(xf86remove("/dev/out-file"), 0);
  EXPECT_FALSE(fs::is_symlink(box.HostPath("/dev/out-file")));
  fs::remove_all(outside);
}

TEST(XserverSandbox, SymbolicLinksInsideAreFollowed) {
  xstub::Sandbox box;
  box.WriteFile("/etc/real/config", "42\n");
  fs::create_symlink("real", box.HostPath("/etc/relative"));
  fs::create_symlink(box.HostPath("/etc/real"), box.HostPath("/etc/absolute"));
  for (const char* path : {"/etc/relative/config", "/etc/absolute/config"}) {
    SCOPED_TRACE(path);
    FILE* f = xf86fopen(path, "r");
    ASSERT_NE(f, nullptr);
    char line[16];
    ASSERT_NE(xf86fgets(line, sizeof line, f), nullptr);
    EXPECT_STREQ(line, "42\n");
    xf86fclose(f);
  }
  fs::create_symlink("loop", box.HostPath("/etc/loop"));
  EXPECT_EQ(xf86open("/etc/loop", O_RDONLY), -1);
  EXPECT_EQ(errno, ELOOP);
}

// ".." after a link climbs from where the link leads, as the kernel does,
// not from the link's own directory.
TEST(XserverSandbox, DotDotAfterALinkClimbsFromItsTarget) {
  xstub::Sandbox box;
  box.WriteFile("/a/b/x", "physical\n");
  box.WriteFile("/dev/x", "lexical\n");
  box.MakeDirectories("/a/b/c");
  fs::create_symlink("../a/b/c", box.HostPath("/dev/deep"));
  fs::create_symlink("deep", box.HostPath("/dev/hop"));  // a chain of links

  for (const char* path : {"/dev/deep/../x", "/dev/hop/../x", "/dev/hop/../../b/./x"}) {
    SCOPED_TRACE(path);
    // The host's own resolution of the same path is the oracle.
    std::ifstream host(box.Root().string() + path);
    std::string expected;
    std::getline(host, expected);
    ASSERT_EQ(expected, "physical");
    FILE* f = xf86fopen(path, "r");
    ASSERT_NE(f, nullptr);
    char line[32];
    ASSERT_NE(xf86fgets(line, sizeof line, f), nullptr);
    EXPECT_EQ(line, expected + "\n");
    xf86fclose(f);
  }
  EXPECT_TRUE(box.Escapes().empty());

  // A link to the root itself: climbing past it leaves the root.
  fs::create_symlink("..", box.HostPath("/dev/top"));
  struct stat st;
  EXPECT_EQ(xf86stat("/dev/top/proc/devices", &st), 0);
  EXPECT_EQ(xf86stat("/dev/top/../proc/devices", &st), -1);
  EXPECT_EQ(errno, EACCES);
  EXPECT_EQ(xf86stat("/dev/hop/../../../../proc", &st), -1);
  EXPECT_EQ(errno, EACCES);
  EXPECT_EQ(box.Escapes().size(), 2u);
}

// Every service refuses a path that leads out through a link, whether the
// link is in the middle or (where the service follows it) at the end, and
// nothing appears outside.
TEST(XserverSandbox, LinksLeadingOutAreRefusedForEveryService) {
  xstub::Sandbox box;
  const fs::path outside = box.Root().string() + "-outside";
  fs::create_directory(outside);
  fs::create_symlink(outside, box.HostPath("/dev/out-dir"));
  fs::create_symlink("../../" + outside.filename().string(), box.HostPath("/dev/out-rel"));
  fs::create_symlink(outside / "new", box.HostPath("/dev/out-new"));  // dangling

  struct Case {
    const char* name;
    std::function<int()> call;
    int error;
  };
  const Case cases[] = {
      {"open", [] { return xf86open("/dev/out-dir/new", O_RDWR | O_CREAT, 0644); }, EACCES},
      {"open at the end", [] { return xf86open("/dev/out-new", O_RDWR | O_CREAT, 0644); },
       EACCES},
      {"fopen", [] { return xf86fopen("/dev/out-rel/new", "w") ? 0 : -1; }, EACCES},
      {"stat", [] { struct stat st; return xf86stat("/dev/out-dir/.", &st); }, EACCES},
      {"mkdir", [] { return xf86mkdir("/dev/out-dir/new", 0755); }, EACCES},
      {"mknod", [] { return xf86mknod("/dev/out-rel/new", S_IFCHR | 0666, 0); }, EACCES},
      {"chmod", [] { return xf86chmod("/dev/out-dir", 0777); }, EACCES},
      {"remove", [] { return xf86remove("/dev/out-rel/new"); }, EACCES},
      // The services that do not follow a last link act on the link itself,
      // which lies inside: it exists, so nothing is made through it.
      {"mkdir at the end", [] { return xf86mkdir("/dev/out-new", 0755); }, EEXIST},
      {"mknod at the end", [] { return xf86mknod("/dev/out-new", S_IFCHR | 0666, 0); },
       EEXIST},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    errno = 0;
    EXPECT_EQ(c.call(), -1);
    EXPECT_EQ(errno, c.error);
    EXPECT_TRUE(fs::is_empty(outside));
  }
  EXPECT_EQ(fs::status(outside).permissions() & fs::perms::others_write, fs::perms::none);
  EXPECT_EQ(box.Escapes().size(), 8u);
  fs::remove_all(outside);
}

// What the driver leaves open is closed with the sandbox.
TEST(XserverSandbox, DescriptorsLeftOpenAreClosedAtTheEnd) {
  int file = -1;
  int device = -1;
  {
    xstub::Sandbox box;
    file = xf86open("/proc/devices", O_RDONLY);
    device = xf86open("/dev/mem", O_RDWR);
    ASSERT_GE(file, 0);
    ASSERT_GE(device, 0);
    EXPECT_NE(fcntl(file, F_GETFD), -1);
  }
  EXPECT_EQ(fcntl(file, F_GETFD), -1);
  EXPECT_EQ(fcntl(device, F_GETFD), -1);
}

TEST(XserverSandbox, ServicesFailWithoutASandbox) {
  struct stat st;
  errno = 0;
  EXPECT_EQ(xf86stat("/dev/mem", &st), -1);
  EXPECT_EQ(errno, ENOSYS);
  EXPECT_EQ(xf86open("/proc/devices", O_RDONLY), -1);
  EXPECT_EQ(errno, ENOSYS);
  EXPECT_EQ(xf86mkdir("/dev/orvane", 0755), -1);
  EXPECT_EQ(xf86fopen("/proc/modules", "r"), nullptr);
  EXPECT_EQ(xf86mknod("/dev/orvane/orv0", S_IFCHR | 0666, 0), -1);
  EXPECT_EQ(xf86LoadKernelModule("orv"), 0);
  EXPECT_EQ(errno, ENOSYS);
}

TEST(XserverSandboxDeathTest, OnlyOneAtATime) {
  xstub::Sandbox box;
  EXPECT_DEATH(xstub::Sandbox second, "second sandbox");
}

}  // namespace
