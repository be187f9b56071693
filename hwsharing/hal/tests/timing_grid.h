// The 270 sizes and rates that the GTF and CVT grid test holds against cvt,
// gtf and edid-decode, and that the timing benchmark runs over.
#pragma once

#include <utility>
#include <vector>

namespace hwtest {

struct GridPoint {
  int w, h, r;
};

inline const std::vector<GridPoint>& TimingGrid() {
  static const std::vector<GridPoint> grid = [] {
    const std::pair<int, int> sizes[] = {
        {320, 240},   {400, 300},   {512, 384},   {640, 350},   {640, 400},   {640, 480},   {720, 400},
        {720, 480},   {720, 576},   {800, 480},   {800, 600},   {848, 480},   {854, 480},   {960, 540},
        {960, 600},   {1024, 576},  {1024, 600},  {1024, 640},  {1024, 768},  {1152, 720},  {1152, 864},
        {1280, 720},  {1280, 768},  {1280, 800},  {1280, 960},  {1280, 1024}, {1360, 768},  {1366, 768},
        {1400, 1050}, {1440, 900},  {1440, 1080}, {1600, 900},  {1600, 1200}, {1680, 1050}, {1792, 1344},
        {1856, 1392}, {1920, 1080}, {1920, 1200}, {1920, 1440}, {2048, 1152}, {2048, 1536}, {2560, 1080},
        {2560, 1440}, {2560, 1600}, {3840, 2160}};
    std::vector<GridPoint> g;
    for (const auto& [w, h] : sizes)
      for (int r : {50, 60, 75, 85, 100, 120}) g.push_back({w, h, r});
    return g;
  }();
  return grid;
}

}  // namespace hwtest
