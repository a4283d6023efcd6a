// Sample distances and the threshold-cut average-linkage clustering.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "synergy.h"

namespace {

// Put probe rows straight into the analysis state (all labels 0).
void set_table(const std::vector<std::vector<double>>& rows, int ns) {
  probe.clear();
  expr = rows;
  for (size_t p = 0; p < rows.size(); ++p) probe.push_back("g" + std::to_string(p));
  n_prob = static_cast<int>(rows.size());
  n_samp = ns;
  phe.assign(ns, 0);
  init_work();
}

// Partition string of one probe's values.
std::string part1(const std::vector<double>& v) {
  set_table({v}, static_cast<int>(v.size()));
  comp_sin_dis(0);
  cluster();
  return dndr;
}

// Partition string of two probes (sel 0: Chebyshev, else Euclidean).
std::string part2(const std::vector<double>& a, const std::vector<double>& b, int sel) {
  set_table({a, b}, static_cast<int>(a.size()));
  if (sel == 0)
    comp_ch_dis(0, 1);
  else
    comp_eu_dis(0, 1);
  cluster();
  return dndr;
}

TEST(Cluster, FewerThanTwoSamplesIsNoPartition) {
  EXPECT_EQ(part1({}), "N");
  min_id[0] = 3;
  min_id[1] = 5;
  EXPECT_EQ(part1({0.4}), "N");
  EXPECT_EQ(min_id[0], 3);  // no pair found: left as it was
  EXPECT_EQ(min_id[1], 5);
}

TEST(Cluster, ThresholdIsAMergeHeightOfCutInclusive) {
  EXPECT_EQ(part1({0, 0.13}), "0\t1");
  EXPECT_EQ(part1({0, 0.12}), "N");  // height 0.06 == cut merges
  EXPECT_EQ(part1({0.12, 0}), "N");
  EXPECT_EQ(part1({5, 5, 5, 5}), "N");
  EXPECT_EQ(part1({0.5, 0.2, 0.9}), "0\t1\t2");
  // an average of exactly 0.24 stays apart; 0.18 too
  EXPECT_EQ(part1({0, 0, 0.24}), "0,1\t2");
  EXPECT_EQ(part1({0, 0.24, 0.12}), "0,2\t1");
}

TEST(Cluster, ListsOrderedBySmallestMember) {
  EXPECT_EQ(part1({0, 0.01, 0.5, 0.51}), "0,1\t2,3");
  EXPECT_EQ(part1({0.2, 0, 0.21, 0.01}), "0,2\t1,3");
}

TEST(Cluster, TieGoesToFirstPairInScanOrder) {
  set_table({{0, 0.1, 0.2}}, 3);
  comp_sin_dis(0);
  EXPECT_EQ(min_id[0], 0);
  EXPECT_EQ(min_id[1], 1);
  cluster();
  EXPECT_EQ(dndr, "0,1\t2");  // merging 1 and 2 first would leave 0 alone
  EXPECT_EQ(min_id[0], 0);    // cluster does not write min_id
  EXPECT_EQ(min_id[1], 1);
}

TEST(Cluster, MemberOrderFollowsTheMerges) {
  EXPECT_EQ(part1({0, 0.1, 0.12, 0.03, 1}), "0,3,1,2\t4");
}

TEST(Cluster, MultiDigitSampleNumbers) {
  // 12 samples: 0 and 11 together, 1..10 together
  std::vector<double> v(12, 1.0);
  v[0] = v[11] = 0.0;
  EXPECT_EQ(part1(v), "0,11\t1,2,3,4,5,6,7,8,9,10");
}

TEST(Cluster, EuclideanAgainstChebyshev) {
  EXPECT_EQ(part2({0, 0.09}, {0, 0.09}, 1), "0\t1");  // 0.09 * sqrt(2) > 0.12
  EXPECT_EQ(part2({0, 0.09}, {0, 0.09}, 0), "N");
  EXPECT_EQ(part2({0, 0, 1, 1}, {0, 1, 0, 1}, 0), "0\t1\t2\t3");
}

TEST(Cluster, BuildersFillASymmetricMatrix) {
  set_table({{0.3, -1.0, 2.5, 0.3}, {1.0, 1.5, -0.25, 4.0}}, 4);
  comp_eu_dis(0, 1);
  std::vector<std::vector<double>> eu = dis;
  comp_eu_dis(1, 0);
  EXPECT_EQ(dis, eu);  // swapping the probes builds the same matrix
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(dis[i][i], 0.0);
    for (int j = 0; j < 4; ++j) EXPECT_EQ(dis[i][j], dis[j][i]);
  }
  const double a = 0.3 - -1.0, b = 1.0 - 1.5;
  EXPECT_EQ(dis[0][1], std::sqrt(a * a + b * b));
  comp_ch_dis(0, 1);
  EXPECT_EQ(dis[0][2], std::fabs(0.3 - 2.5));
  EXPECT_EQ(dis[1][3], 2.5);
  std::vector<std::vector<double>> ch = dis;
  comp_ch_dis(1, 0);
  EXPECT_EQ(dis, ch);
  // Chebyshev of a probe with itself is the single-probe matrix
  comp_ch_dis(0, 0);
  ch = dis;
  comp_sin_dis(0);
  EXPECT_EQ(dis, ch);
  EXPECT_EQ(min_id[0], 0);  // the tie at distance 0 between 0 and 3
  EXPECT_EQ(min_id[1], 3);
}

TEST(Cluster, EveryCallReplacesThePartition) {
  set_table({{0, 1}, {0, 0}}, 2);
  comp_sin_dis(0);
  cluster();
  EXPECT_EQ(dndr, "0\t1");
  comp_sin_dis(1);
  cluster();
  EXPECT_EQ(dndr, "N");
  comp_sin_dis(0);
  cluster();
  EXPECT_EQ(dndr, "0\t1");
}

}  // namespace
