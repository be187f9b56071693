// The golden vectors of the emulated 10-bit colour table
// (tests/data/lut_golden.py): per case the three input ramps and, per
// channel, the 1,024 outputs of the hardware emulation and of the best
// interpolation.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace hwtest {

struct GoldenLut {
  std::vector<uint16_t> in[3];
  std::vector<uint16_t> hw[3], best[3];
};

inline std::map<std::string, GoldenLut> LoadGoldenLut() {
  std::map<std::string, GoldenLut> cases;
  std::ifstream file(std::string(getenv("ORV_SOURCE_DIR")) + "/hwsharing/chip/tests/data/lut_golden.txt");
  std::string line, current;
  while (std::getline(file, line)) {
    std::istringstream words(line);
    std::string kind;
    words >> kind;
    if (kind == "case") {
      words >> current;
      continue;
    }
    int channel = 0;
    words >> channel;
    if (channel < 0 || channel > 2) continue;
    std::vector<uint16_t> values;
    for (unsigned v; words >> v;) values.push_back(static_cast<uint16_t>(v));
    GoldenLut& c = cases[current];
    (kind == "in" ? c.in : kind == "hw" ? c.hw : c.best)[channel] = values;
  }
  return cases;
}

}  // namespace hwtest
