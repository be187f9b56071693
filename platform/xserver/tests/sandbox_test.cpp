// The sandbox keeps every path of the services inside its root.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
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
