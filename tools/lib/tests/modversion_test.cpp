#include <elf.h>
#include <gtest/gtest.h>
#include <sys/utsname.h>

#include <cstddef>
#include <new>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "tools/lib/DriverInfo.h"
#include "tools/lib/File.h"
#include "tools/lib/elfloader.h"
#include "tools/lib/tests/sysfixture.h"

namespace {

const char* const kModesetting = "/usr/lib/xorg/modules/drivers/modesetting_drv.so";

struct Version {
  int major = -1, minor = -1, patch = -1;
  bool operator==(const Version&) const = default;
};

// Reads the version from an exact-size heap copy, so that any read past the
// image is caught by the address sanitizer.
int ReadImage(const std::string& bytes, const char* name, Version* v) {
  std::vector<uint8_t> copy(bytes.begin(), bytes.end());
  return GetModuleVersionFromImage(copy.data(), copy.size(), name, &v->major, &v->minor,
                                   &v->patch);
}

TEST(ModuleVersion, SharedAndRelocatableFixtures) {
  TempTree tree;
  struct {
    const char* from;
    const char* name;
    Version expected;
  } const rows[] = {
      {ORV_FIXTURE_ORV_SO, "orv_drv.so", {1, 4, 7}},
      {ORV_FIXTURE_QLB_O, "qlb_drv.o", {2, 3, 258}},
  };
  for (const auto& row : rows) {
    std::string path = tree.Copy(row.from, row.name);
    Version v;
    ASSERT_EQ(GetModuleVersion(path.c_str(), &v.major, &v.minor, &v.patch), 0) << row.name;
    EXPECT_EQ(v, row.expected) << row.name;
  }
}

TEST(ModuleVersion, SymbolNameComesFromThePath) {
  TempTree tree;
  // The orv fixture holds orvModuleData only.
  const char* const refused[] = {"qlb_drv.so", "orvdrv.so", "orv"};
  for (const char* name : refused) {
    std::string path = tree.Copy(ORV_FIXTURE_ORV_SO, name);
    Version v;
    EXPECT_EQ(GetModuleVersion(path.c_str(), &v.major, &v.minor, &v.patch), -1) << name;
    EXPECT_EQ(v, Version{}) << "outputs untouched";
  }
  Version v;
  EXPECT_EQ(GetModuleVersion("orv_drv.so", &v.major, &v.minor, &v.patch), -1) << "no '/'";
  EXPECT_EQ(GetModuleVersion(tree.Path("missing_drv.so").c_str(), &v.major, &v.minor, &v.patch),
            -1);
}

// What the X server itself logs for the module it loads.
std::string ServerReportedVersion() {
  if (access("/usr/bin/Xorg", X_OK) != 0) return {};
  TempTree tree;
  tree.Write("xorg.conf",
             "Section \"Device\"\n Identifier \"d\"\n Driver \"modesetting\"\nEndSection\n");
  tree.Write("conf.d/.keep", "");
  std::mt19937 rng(std::random_device{}());
  std::string display = ":" + std::to_string(3000 + rng() % 20000);
  std::string log = tree.Path("Xorg.log");
  std::string command = "/usr/bin/Xorg " + display + " -config " + tree.Path("xorg.conf") +
                        " -configdir " + tree.Path("conf.d") + " -logfile " + log +
                        " -noreset -nolisten tcp >/dev/null 2>&1 </dev/null";
  if (std::system(command.c_str()) == -1) return {};
  std::string text = ReadFile(log);
  std::smatch m;
  std::regex line("Module modesetting: vendor=[^\n]*\n[^\n]*module version = ([0-9]+\\.[0-9]+\\.[0-9]+)");
  if (!std::regex_search(text, m, line)) return {};
  return m[1];
}

TEST(ModuleVersion, InstalledModesettingDriverMatchesTheServer) {
  if (access(kModesetting, R_OK) != 0) GTEST_SKIP() << "no modesetting driver installed";
  std::string reported = ServerReportedVersion();
  if (reported.empty()) GTEST_SKIP() << "the X server did not report the module's version";
  Version v;
  ASSERT_EQ(GetModuleVersion(kModesetting, &v.major, &v.minor, &v.patch), 0);
  std::printf("server reports modesetting %s\n", reported.c_str());
  EXPECT_EQ(std::to_string(v.major) + "." + std::to_string(v.minor) + "." +
                std::to_string(v.patch),
            reported);
}

TEST(ModuleVersion, TruncatedFilesGiveNoVersion) {
  for (const char* file : {ORV_FIXTURE_ORV_SO, ORV_FIXTURE_QLB_O}) {
    std::string bytes = ReadFile(file);
    ASSERT_GT(bytes.size(), 64u);
    const char* name = file == std::string(ORV_FIXTURE_ORV_SO) ? "orv" : "qlb";
    Version whole;
    ASSERT_EQ(ReadImage(bytes, name, &whole), 0);
    // The section headers sit at the end: every cut loses some of them.
    for (size_t size = 0; size < bytes.size(); ++size) {
      Version v;
      ASSERT_EQ(ReadImage(bytes.substr(0, size), name, &v), -1) << file << " cut at " << size;
    }
  }
}

// One targeted corruption of the ELF header.
struct Garble {
  const char* name;
  void (*apply)(std::string& image);
};

Elf64_Ehdr* Header(std::string& image) { return reinterpret_cast<Elf64_Ehdr*>(image.data()); }

TEST(ModuleVersion, GarbledHeadersGiveNoVersion) {
  const Garble garbles[] = {
      {"executable type", [](std::string& i) { Header(i)->e_type = ET_EXEC; }},
      {"32-bit class", [](std::string& i) { Header(i)->e_ident[EI_CLASS] = ELFCLASS32; }},
      {"big endian", [](std::string& i) { Header(i)->e_ident[EI_DATA] = ELFDATA2MSB; }},
      {"bad magic", [](std::string& i) { i[1] = 'X'; }},
      {"header table past the end", [](std::string& i) { Header(i)->e_shoff = ~0ull - 8; }},
      {"no sections", [](std::string& i) { Header(i)->e_shnum = 0; }},
      {"too many sections", [](std::string& i) { Header(i)->e_shnum = 0xffff; }},
      {"small entries", [](std::string& i) { Header(i)->e_shentsize = 16; }},
      {"name table out of range", [](std::string& i) { Header(i)->e_shstrndx = 0xfff0; }},
  };
  for (const char* file : {ORV_FIXTURE_ORV_SO, ORV_FIXTURE_QLB_O}) {
    const std::string bytes = ReadFile(file);
    const char* name = file == std::string(ORV_FIXTURE_ORV_SO) ? "orv" : "qlb";
    for (const Garble& g : garbles) {
      std::string image = bytes;
      g.apply(image);
      Version v;
      EXPECT_EQ(ReadImage(image, name, &v), -1) << file << ": " << g.name;
    }
  }
}

TEST(ModuleVersion, GarbledSectionsNeverCrash) {
  for (const char* file : {ORV_FIXTURE_ORV_SO, ORV_FIXTURE_QLB_O}) {
    const std::string bytes = ReadFile(file);
    const char* name = file == std::string(ORV_FIXTURE_ORV_SO) ? "orv" : "qlb";
    Elf64_Ehdr eh;
    std::memcpy(&eh, bytes.data(), sizeof eh);
    // Every field of every section header set to extreme values in turn.
    const uint64_t values[] = {0, 1, 0x7fffffff, 0xffffffff, ~0ull, ~0ull / 2, bytes.size()};
    for (unsigned s = 0; s < eh.e_shnum; ++s) {
      for (size_t field = 0; field < sizeof(Elf64_Shdr); field += 4) {
        for (uint64_t value : values) {
          std::string image = bytes;
          size_t at = eh.e_shoff + size_t(s) * eh.e_shentsize + field;
          uint32_t word = uint32_t(value);
          std::memcpy(image.data() + at, &word, 4);
          Version v;
          ReadImage(image, name, &v);
        }
      }
    }
    // And random bytes spread over the whole file.
    std::mt19937 rng(1234);
    for (int round = 0; round < 2000; ++round) {
      std::string image = bytes;
      for (int k = 0; k < 8; ++k) image[rng() % image.size()] = char(rng());
      Version v;
      ReadImage(image, name, &v);
    }
  }
}

// A section table of a damaged file: an ELF header, the section names, an
// empty dynamic symbol table with its strings, then `sections` more
// headers made by `make` (given the file's final size).
std::string ImageWithSections(unsigned sections, Elf64_Shdr (*make)(uint64_t fileSize)) {
  const std::string names = std::string("\0.shstrtab\0.dynsym\0.dynstr\0.data\0", 33);
  const uint64_t namesAt = sizeof(Elf64_Ehdr);
  const uint64_t stringsAt = namesAt + names.size();
  const uint64_t tableAt = (stringsAt + 1 + 7) & ~uint64_t{7};
  const unsigned count = 4 + sections;
  const uint64_t fileSize = tableAt + uint64_t{count} * sizeof(Elf64_Shdr);
  std::string image(fileSize, '\0');
  Elf64_Ehdr eh{};
  std::memcpy(eh.e_ident, ELFMAG, SELFMAG);
  eh.e_ident[EI_CLASS] = ELFCLASS64;
  eh.e_ident[EI_DATA] = ELFDATA2LSB;
  eh.e_ident[EI_VERSION] = EV_CURRENT;
  eh.e_type = ET_DYN;
  eh.e_machine = EM_X86_64;
  eh.e_version = EV_CURRENT;
  eh.e_shoff = tableAt;
  eh.e_ehsize = sizeof eh;
  eh.e_shentsize = sizeof(Elf64_Shdr);
  eh.e_shnum = uint16_t(count);
  eh.e_shstrndx = 1;
  std::memcpy(image.data(), &eh, sizeof eh);
  std::memcpy(image.data() + namesAt, names.data(), names.size());
  std::vector<Elf64_Shdr> table(count);
  table[1] = {1, SHT_STRTAB, 0, 0, namesAt, names.size(), 0, 0, 1, 0};
  table[2] = {11, SHT_DYNSYM, SHF_ALLOC, 0, stringsAt, 0, 3, 0, 8, sizeof(Elf64_Sym)};
  table[3] = {19, SHT_STRTAB, SHF_ALLOC, 0, stringsAt, 1, 0, 0, 1, 0};
  for (unsigned i = 0; i < sections; ++i) table[4 + i] = make(fileSize);
  std::memcpy(image.data() + tableAt, table.data(), table.size() * sizeof(Elf64_Shdr));
  return image;
}

// Every allocation of this test program counts; one that would take the
// memory in use above the cap fails as an exhausted heap would.
size_t g_inUse = 0;
size_t g_cap = SIZE_MAX;

// Allocations of the reader stay within `budget` bytes above what is in
// use when it starts.
class AllocationCap {
 public:
  explicit AllocationCap(size_t budget) { g_cap = g_inUse + budget; }
  ~AllocationCap() { g_cap = SIZE_MAX; }
};

// A file of a few hundred bytes or a few megabytes whose section table
// claims huge zero-filled sections, or the whole file again and again, is
// refused like any unreadable module without taking more memory than the
// file itself.
TEST(ModuleVersion, DamagedSectionTablesTakeNoMoreMemoryThanTheFile) {
  const struct {
    const char* name;
    std::string image;
  } cases[] = {
      {"eight zero-filled sections of 256 MiB",
       ImageWithSections(8, [](uint64_t) {
         return Elf64_Shdr{27, SHT_NOBITS, SHF_ALLOC | SHF_WRITE, 0x1000, 0, 256ull << 20, 0, 0, 8, 0};
       })},
      {"the whole file 60000 times",
       ImageWithSections(60000, [](uint64_t size) {
         return Elf64_Shdr{27, SHT_PROGBITS, SHF_ALLOC | SHF_WRITE, 0x1000, 0, size, 0, 0, 8, 0};
       })},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> copy(c.image.begin(), c.image.end());
    Version v;
    int result = 0;
    {
      // Section records, symbols and the copies: a few times the file.
      AllocationCap cap(8 * copy.size() + (1u << 20));
      EXPECT_NO_THROW(result = GetModuleVersionFromImage(copy.data(), copy.size(), "orv", &v.major,
                                                         &v.minor, &v.patch));
    }
    EXPECT_EQ(result, -1);
    EXPECT_EQ(v, Version{});
  }
  // The fuzz corpus keeps the first of them.
  const std::string kept = ReadFile(std::string(std::getenv("ORV_SOURCE_DIR")) +
                                    "/tests/data/elfloader_fuzz/oom-zero-filled-sections");
  EXPECT_EQ(kept, cases[0].image);
}

class DriverInfoTest : public ::testing::Test {
 protected:
  void SetUp() override { SysRootSet(tree_.Root()); }
  void TearDown() override { SysRootSet("/"); }
  static std::string Release() {
    struct utsname u;
    uname(&u);
    return u.release;
  }
  TempTree tree_;
};

TEST_F(DriverInfoTest, VersionsOfTheInstalledModules) {
  tree_.Copy(ORV_FIXTURE_ORV_SO, "usr/X11R6/lib/modules/drivers/orv_drv.so");
  tree_.Copy(ORV_FIXTURE_QLB_O, "usr/lib/xorg/modules/drivers/qlb_drv.o");
  tree_.Write("lib/modules/" + Release() + "/kernel/drivers/video/orv.ko", "module");
  DriverInfo info;
  ProbeDriverInfo(&info);
  EXPECT_STREQ(info.orvVersion, "1.4.7");
  EXPECT_STREQ(info.qlbVersion, "2.3.258");
  EXPECT_EQ(info.kernelModuleInstalled, 1);
  EXPECT_EQ(DrvInfoIsKernelModuleInstall(kDriverKindQlb), 0);
}

TEST_F(DriverInfoTest, MissingOrUnreadableModulesGiveZeros) {
  tree_.Write("usr/lib/xorg/modules/drivers/qlb_drv.so", "not an ELF file");
  DriverInfo info;
  ProbeDriver(&info);
  EXPECT_STREQ(info.orvVersion, "0.0.0");
  EXPECT_STREQ(info.qlbVersion, "0.0.0");
  EXPECT_EQ(info.kernelModuleInstalled, 0);
}

TEST_F(DriverInfoTest, SearchOrderOfModuleFiles) {
  EXPECT_EQ(GetDriverPath(kDriverKindOrv), "");
  tree_.Write("usr/X11/lib/modules/drivers/orv_drv.o", "");
  EXPECT_EQ(GetDriverPath(kDriverKindOrv), tree_.Path("usr/X11/lib/modules/drivers/orv_drv.o"));
  tree_.Write("usr/X11R6/lib/modules/drivers/orv_drv.so", "");
  EXPECT_EQ(GetDriverPath(kDriverKindOrv),
            tree_.Path("usr/X11R6/lib/modules/drivers/orv_drv.so"));
  tree_.Write("usr/X11R6/lib/modules/drivers/orv_drv.o", "");
  EXPECT_EQ(GetDriverPath(kDriverKindOrv), tree_.Path("usr/X11R6/lib/modules/drivers/orv_drv.o"));
  tree_.Write("usr/lib/xorg/modules/drivers/orv_drv.so", "");
  EXPECT_EQ(GetDriverPath(kDriverKindOrv), tree_.Path("usr/lib/xorg/modules/drivers/orv_drv.so"));
  EXPECT_EQ(GetDriverPath(kDriverKindQlb), "");
}

TEST_F(DriverInfoTest, KernelModulePlaces) {
  const std::string base = "lib/modules/" + Release() + "/kernel/";
  for (const char* place : {"orv.ko", "orv.o", "drivers/video/orv.ko", "drivers/video/orv.o"}) {
    TempTree tree;
    SysRootSet(tree.Root());
    EXPECT_EQ(DrvInfoIsKernelModuleInstall(kDriverKindOrv), 0) << place;
    tree.Write(base + place, "");
    EXPECT_EQ(DrvInfoIsKernelModuleInstall(kDriverKindOrv), 1) << place;
    EXPECT_EQ(DrvInfoIsKernelModuleInstall(kDriverKindQlb), 0) << place;
  }
  char tiny[4];
  EXPECT_EQ(std::strlen(DrvInfoGetKernelReleaseVersion(tiny, sizeof tiny)), 3u);
}

TEST_F(DriverInfoTest, UnknownKindEndsTheProgram) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(GetDriverPath(3), ::testing::ExitedWithCode(1),
              "^Trying to retrieve the path of an unknown video driver.\n$");
}

}  // namespace

// The counting heap of this test program.
namespace {
constexpr size_t kHeader = alignof(std::max_align_t);
}  // namespace

void* operator new(size_t size) {
  if (size > g_cap || g_inUse > g_cap - size) throw std::bad_alloc();
  auto* block = static_cast<unsigned char*>(std::malloc(size + kHeader));
  if (block == nullptr) throw std::bad_alloc();
  std::memcpy(block, &size, sizeof size);
  g_inUse += size;
  return block + kHeader;
}
void* operator new[](size_t size) { return operator new(size); }
void operator delete(void* p) noexcept {
  if (p == nullptr) return;
  auto* block = static_cast<unsigned char*>(p) - kHeader;
  size_t size;
  std::memcpy(&size, block, sizeof size);
  g_inUse -= size;
  std::free(block);
}
void operator delete[](void* p) noexcept { operator delete(p); }
void operator delete(void* p, size_t) noexcept { operator delete(p); }
void operator delete[](void* p, size_t) noexcept { operator delete(p); }
