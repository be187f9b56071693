// The math built the way the kernel core builds it (no library headers, no
// exceptions, no type information, freestanding): the objects may call
// only the square-root seam (and the compiler's memcpy and memset, which
// the kernel provides), so nothing of the X server, the driver core or the
// C++ library, and no allocation; and they carry no constructors of
// statics to run at load time.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

bool HaveTool(const char* name) {
  const std::string command = std::string("command -v ") + name + " >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

std::string Output(const std::string& command) {
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
    pclose(pipe);
  }
  return out;
}

std::vector<std::string> Objects() {
  std::vector<std::string> objects;
  std::stringstream list(ORV_MATH_KERNEL_OBJECTS);
  std::string path;
  while (std::getline(list, path, '|'))
    if (!path.empty()) objects.push_back(path);
  return objects;
}

TEST(MathKernelBuildTest, ObjectsCallOnlyTheSquareRootSeam) {
  if (!HaveTool("nm")) GTEST_SKIP() << "nm is not installed";
  const std::set<std::string> allowed = {"_Z11OrvMathSqrtd", "memcpy", "memset"};
  const std::vector<std::string> objects = Objects();
  ASSERT_EQ(objects.size(), 2u);
  bool seamUsed = false;
  for (const std::string& object : objects) {
    std::stringstream symbols(Output("nm -u '" + object + "'"));
    std::string kind, name;
    while (symbols >> kind >> name) {
      EXPECT_TRUE(allowed.count(name)) << object << " needs " << name;
      seamUsed |= name == "_Z11OrvMathSqrtd";
    }
  }
  EXPECT_TRUE(seamUsed) << "the square root goes through OrvMathSqrt";
}

TEST(MathKernelBuildTest, ObjectsHaveNoStaticsBuiltAtRunTime) {
  if (!HaveTool("readelf")) GTEST_SKIP() << "readelf is not installed";
  for (const std::string& object : Objects()) {
    const std::string sections = Output("readelf -S -W '" + object + "'");
    ASSERT_NE(sections.find(".text"), std::string::npos) << object;
    EXPECT_EQ(sections.find(".init_array"), std::string::npos) << object;
    EXPECT_EQ(sections.find(".ctors"), std::string::npos) << object;
  }
}

}  // namespace
