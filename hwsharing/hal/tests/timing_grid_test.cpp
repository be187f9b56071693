// GTF and CVT over a grid of 270 sizes and rates, held against programs that
// compute the published formulas in floating point: cvt and gtf (X.Org) and
// edid-decode's calculators. The library computes in integers and rounds its
// own way, and the references round their own ways too, so they do not agree
// at every point. Every disagreement must fall into one of the named classes
// below, each with its reason; the test counts the classes and fails on any
// difference that none explains.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <iostream>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "hwsharing/hal/tests/external_tool.h"
#include "hwsharing/hal/tests/timing_grid.h"

#ifndef ORVTIMING_PATH
#error "ORVTIMING_PATH names the orvtiming test program"
#endif

namespace {

enum class Formula { kGtf, kCvt, kCvtReduced };

using Point = hwtest::GridPoint;

// A timing as lengths: clock in kHz, then active, front porch, sync and back
// porch of a line and of a frame.
struct Timing {
  bool valid = false;
  long clock = 0;
  long hact = 0, hfp = 0, hs = 0, hbp = 0;
  long vact = 0, vfp = 0, vs = 0, vbp = 0;
  long HTotal() const { return hact + hfp + hs + hbp; }
  long VTotal() const { return vact + vfp + vs + vbp; }
};

// The library through orvtiming, all points in one run.
std::vector<Timing> Library(Formula f, const std::vector<Point>& grid) {
  std::vector<std::string> argv{ORVTIMING_PATH, f == Formula::kGtf ? "gtf" : f == Formula::kCvt ? "cvt" : "cvt-rb"};
  for (const Point& p : grid) {
    argv.push_back(std::to_string(p.w));
    argv.push_back(std::to_string(p.h));
    argv.push_back(std::to_string(p.r));
  }
  const hwtest::ToolResult r = hwtest::RunTool(argv);
  EXPECT_TRUE(r.exitCode == 0 || r.exitCode == 2) << "orvtiming failed";
  std::vector<Timing> out;
  std::istringstream lines(r.output);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream in(line);
    Timing t;
    // Porches are printed as unsigned 32-bit words; a negative front porch
    // comes back as such.
    unsigned long v[9];
    for (unsigned long& x : v) in >> x;
    auto s = [](unsigned long x) { return static_cast<long>(static_cast<int32_t>(static_cast<uint32_t>(x))); };
    t = {true, s(v[0]), s(v[1]), s(v[2]), s(v[3]), s(v[4]), s(v[5]), s(v[6]), s(v[7]), s(v[8])};
    out.push_back(t);
  }
  return out;
}

// "Modeline NAME CLOCK HACT HSS HSE HTOT VACT VSS VSE VTOT ..." of cvt and gtf.
Timing FromModeline(const std::string& text) {
  Timing t;
  const size_t at = text.find("Modeline");
  if (at == std::string::npos) return t;
  std::istringstream in(text.substr(text.find('"', text.find('"', at) + 1) + 1));
  double mhz = 0;
  long ha, hss, hse, ht, va, vss, vse, vt;
  if (!(in >> mhz >> ha >> hss >> hse >> ht >> va >> vss >> vse >> vt)) return t;
  t = {true, std::lround(mhz * 1000), ha, hss - ha, hse - hss, ht - hse, va, vss - va, vse - vss, vt - vse};
  return t;
}

// The timings of edid-decode's calculator output, in order.
std::vector<Timing> FromEdidDecode(const std::string& text) {
  std::vector<Timing> out;
  std::istringstream lines(text);
  std::string head;
  while (std::getline(lines, head)) {
    if (head.rfind("CVT:", 0) != 0 && head.rfind("GTF:", 0) != 0) continue;
    std::string hline, vline;
    std::getline(lines, hline);
    std::getline(lines, vline);
    Timing t;
    std::istringstream words(head.substr(4));
    std::string size, word, previous;
    words >> size;
    while (words >> word) {
      if (word == "MHz") t.clock = std::lround(std::stod(previous) * 1000);
      previous = word;
    }
    const size_t x = size.find('x');
    t.hact = std::stol(size.substr(0, x));
    t.vact = std::stol(size.substr(x + 1));
    auto fields = [](const std::string& line, long* a, long* b, long* c) {
      std::istringstream in(line);
      std::string name;
      in >> name >> *a >> name >> *b >> name >> *c;
    };
    fields(hline, &t.hfp, &t.hs, &t.hbp);
    fields(vline, &t.vfp, &t.vs, &t.vbp);
    t.valid = true;
    out.push_back(t);
  }
  return out;
}

std::vector<Timing> EdidDecode(Formula f, const std::vector<Point>& grid) {
  if (f == Formula::kGtf) {  // one GTF per run
    std::vector<Timing> out;
    for (const Point& p : grid) {
      const std::string arg = "w=" + std::to_string(p.w) + ",h=" + std::to_string(p.h) + ",fps=" + std::to_string(p.r);
      const std::vector<Timing> one = FromEdidDecode(hwtest::RunTool({"edid-decode", "--gtf", arg}).output);
      out.push_back(one.empty() ? Timing{} : one.front());
    }
    return out;
  }
  std::vector<std::string> argv{"edid-decode"};
  for (const Point& p : grid) {
    argv.push_back("--cvt");
    argv.push_back("w=" + std::to_string(p.w) + ",h=" + std::to_string(p.h) + ",fps=" + std::to_string(p.r) +
                   (f == Formula::kCvtReduced ? ",rb=1" : ""));
  }
  return FromEdidDecode(hwtest::RunTool(argv).output);
}

std::vector<Timing> XorgTool(Formula f, const std::vector<Point>& grid) {
  std::vector<Timing> out;
  for (const Point& p : grid) {
    std::vector<std::string> argv{f == Formula::kGtf ? "gtf" : "cvt"};
    if (f == Formula::kCvtReduced) argv.push_back("-r");
    for (int v : {p.w, p.h, p.r}) argv.push_back(std::to_string(v));
    out.push_back(FromModeline(hwtest::RunTool(argv).output));
  }
  return out;
}

long RoundToCell(long w) { return (w + 4) / 8 * 8; }

// The library's vertical sync lines for a size.
long LibraryVSync(long w, long h) {
  if (h == 0) return 0;
  if (w == 8 * (h / 6)) return 4;
  if (w == 8 * (2 * h / 9)) return 5;
  if (w == 8 * (h / 5)) return 6;
  if (w == 8 * (5 * h / 32) || w == 8 * (15 * h / 72)) return 7;
  return 10;
}

// The classes of disagreement, each with its reason.
const std::map<std::string, std::string> kClasses = {
    {"reference refuses", "cvt makes reduced-blanking timings only for multiples of 60 Hz"},
    {"1360 made 1366", "cvt turns a request for 1360x768 into a 1366x768 timing"},
    {"width rounded to a cell",
     "the reference rounds the active width to a whole character cell; the library keeps the width asked for "
     "(GTF puts the difference into the front porch)"},
    {"sync one cell apart",
     "the library rounds 8 % of the total and then clears the low three bits; GTF rounds to the nearest cell, and "
     "cvt truncates a floating-point value that should be a whole cell; the front porch takes the difference"},
    {"blanking one double cell apart",
     "the ideal blanking is rounded to two cells from an integer line period, and lands on the neighbouring double "
     "cell"},
    {"vertical sync by aspect",
     "the library finds the aspect ratio by comparing the width with 8 x floor(ratio x height) (so 848x480 is 16:9 "
     "and 800x480 15:9), the references by exact ratios; the back porch follows the sync"},
    {"minimum vertical back porch",
     "the library's back porch is at its 6-line minimum; edid-decode applies a 7-line minimum and cvt none"},
    {"sync and back porch one line apart",
     "the lines of vertical sync plus back porch are a division by the line period, which the library holds in "
     "whole 10-ns ticks (GTF) or nanoseconds (CVT)"},
    {"clock from an integer line period",
     "GTF's clock is the total over the line period, which the library holds in whole 10-ns ticks: within 0.5 %"},
    {"clock one or two 250-kHz steps apart",
     "CVT truncates the clock to 250-kHz steps; the library's line period is a whole number of nanoseconds, so the "
     "truncation can land up to two steps away (three when the reference's line is a cell wider)"},
};

struct Tally {
  std::map<std::string, int> counts;
  std::vector<std::string> unexplained;
};

// Explains the differences between the library's timing `o` and a
// reference's `r` at one point; adds the classes used to the tally.
void Explain(Formula f, const std::string& reference, const Point& p, const Timing& o, Timing r, Tally* tally) {
  std::vector<std::string> used;
  if (!r.valid) {
    tally->counts["reference refuses"]++;
    return;
  }
  if (reference == "cvt" && p.w == 1360 && r.hact == 1366) {
    tally->counts["1360 made 1366"]++;
    return;
  }
  const long refHTotal = r.HTotal();
  const long refVTotal = r.VTotal();
  bool wider = false;
  if (r.hact != o.hact && r.hact == RoundToCell(o.hact)) {
    used.push_back("width rounded to a cell");
    if (f == Formula::kGtf) r.hfp += r.hact - o.hact;
    wider = r.hact > o.hact;
    r.hact = o.hact;
  }
  if (r.hs != o.hs && std::labs(r.hs - o.hs) == 8 && r.hs + r.hfp == o.hs + o.hfp) {
    used.push_back("sync one cell apart");
    r.hfp = o.hfp;
    r.hs = o.hs;
  }
  if (r.hbp != o.hbp && std::labs(r.hbp - o.hbp) == 8 && r.hfp - o.hfp == r.hbp - o.hbp) {
    used.push_back("blanking one double cell apart");
    r.hfp = o.hfp;
    r.hbp = o.hbp;
  }
  if (f != Formula::kGtf && r.vs != o.vs && o.vs == LibraryVSync(p.w, p.h)) {
    used.push_back("vertical sync by aspect");
    r.vs = o.vs;
    r.vbp = o.vbp;
  }
  if (f != Formula::kGtf && r.vbp != o.vbp && o.vbp == 6) {
    used.push_back("minimum vertical back porch");
    r.vbp = o.vbp;
  }
  if (r.vbp != o.vbp && std::labs(r.vbp - o.vbp) == 1) {
    used.push_back("sync and back porch one line apart");
    r.vbp = o.vbp;
  }
  if (r.clock != o.clock) {
    // The reference's clock for the library's geometry: CVT with reduced
    // blanking scales with both totals, the others with the line.
    double expected = static_cast<double>(r.clock) * o.HTotal() / refHTotal;
    if (f == Formula::kCvtReduced) expected = expected * o.VTotal() / refVTotal;
    if (f == Formula::kGtf && std::fabs(o.clock - expected) <= 0.005 * expected) {
      used.push_back("clock from an integer line period");
      r.clock = o.clock;
    } else if (f != Formula::kGtf && std::fabs(o.clock - expected) <= 250.0 * (wider ? 3 : 2) + 1) {
      used.push_back("clock one or two 250-kHz steps apart");
      r.clock = o.clock;
    }
  }
  const bool same = r.clock == o.clock && r.hact == o.hact && r.hfp == o.hfp && r.hs == o.hs && r.hbp == o.hbp &&
                    r.vact == o.vact && r.vfp == o.vfp && r.vs == o.vs && r.vbp == o.vbp;
  for (const std::string& c : used) tally->counts[c]++;
  if (!same) {
    std::ostringstream s;
    s << reference << " at " << p.w << "x" << p.h << "@" << p.r << ": library " << o.clock << " " << o.hact << " "
      << o.hfp << " " << o.hs << " " << o.hbp << " / " << o.vfp << " " << o.vs << " " << o.vbp << ", reference "
      << r.clock << " " << r.hact << " " << r.hfp << " " << r.hs << " " << r.hbp << " / " << r.vfp << " " << r.vs
      << " " << r.vbp;
    tally->unexplained.push_back(s.str());
  }
}

void RunGrid(Formula f, const char* toolName) {
  for (const char* program : {toolName, "edid-decode"})
    if (hwtest::FindProgram(program).empty()) GTEST_SKIP() << program << " is not installed";
  const std::vector<Point>& grid = hwtest::TimingGrid();
  ASSERT_GE(grid.size(), 200u);
  const std::vector<Timing> library = Library(f, grid);
  ASSERT_EQ(library.size(), grid.size());
  const std::vector<std::pair<std::string, std::vector<Timing>>> references = {
      {toolName, XorgTool(f, grid)}, {"edid-decode", EdidDecode(f, grid)}};
  Tally tally;
  int agreements = 0;
  for (const auto& [name, timings] : references) {
    ASSERT_EQ(timings.size(), grid.size()) << name;
    for (size_t i = 0; i < grid.size(); ++i) {
      const size_t before = tally.unexplained.size();
      std::map<std::string, int> counted = tally.counts;
      Explain(f, name, grid[i], library[i], timings[i], &tally);
      if (counted == tally.counts && tally.unexplained.size() == before) ++agreements;
    }
  }
  std::ostringstream summary;
  summary << agreements << " exact agreements";
  for (const auto& [name, count] : tally.counts) {
    ASSERT_TRUE(kClasses.count(name)) << name;
    summary << "; " << name << ": " << count;
  }
  std::cout << summary.str() << "\n";
  ::testing::Test::RecordProperty("classes", summary.str());
  EXPECT_GT(agreements, 0);
  for (const std::string& u : tally.unexplained) ADD_FAILURE() << "unexplained: " << u;
}

TEST(TimingGrid, GtfAgainstGtfAndEdidDecode) { RunGrid(Formula::kGtf, "gtf"); }
TEST(TimingGrid, CvtAgainstCvtAndEdidDecode) { RunGrid(Formula::kCvt, "cvt"); }
TEST(TimingGrid, ReducedBlankingCvtAgainstCvtAndEdidDecode) { RunGrid(Formula::kCvtReduced, "cvt"); }

}  // namespace
