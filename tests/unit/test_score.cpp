// Partition entropy and synergy scores.
#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "synergy.h"

namespace {

using ivec = std::vector<int>;

void set_table(const std::vector<std::vector<double>>& rows, const ivec& lab) {
  probe.clear();
  expr = rows;
  for (size_t p = 0; p < rows.size(); ++p) probe.push_back("g" + std::to_string(p));
  n_prob = static_cast<int>(rows.size());
  n_samp = static_cast<int>(lab.size());
  phe = lab;
  init_work();
}

ivec cids() { return ivec(s_cid.begin(), s_cid.begin() + n_samp); }

const double floor_ent = mi(0.9999);  // entropy left in a pure cluster

TEST(Entropy, BinaryEntropyInBits) {
  EXPECT_EQ(mi(0.5), 1.0);
  EXPECT_EQ(mi(0.25), mi(0.75));
  EXPECT_NEAR(mi(0.25), 0.8112781244591328, 1e-15);
  EXPECT_GT(floor_ent, 0.0);  // a pure proportion is not 0 bits
  EXPECT_LT(floor_ent, 0.002);
  EXPECT_EQ(mi(1.0), floor_ent);
  EXPECT_EQ(mi(0.0), floor_ent);
  EXPECT_TRUE(std::isnan(mi(std::nan(""))));
}

TEST(Entropy, LabelEntropy) {
  set_table({}, {1, 0, 0, 1});
  ivec lab = phe;
  EXPECT_EQ(phe_synergic(lab.data()), 1.0);
  lab = {1, 1, 1, 1};
  EXPECT_EQ(phe_synergic(lab.data()), floor_ent);
  lab = {0, 0, 0, 0};
  EXPECT_EQ(phe_synergic(lab.data()), floor_ent);
  lab = {0, 1, 0, 0};
  EXPECT_EQ(phe_synergic(lab.data()), mi(0.25));
}

TEST(Synergic, PureAndHalfClusters) {
  set_table({}, {1, 1, 0, 0});
  dndr = "0,1\t2,3";
  EXPECT_EQ(synergic(phe.data()), floor_ent);
  EXPECT_EQ(cids(), (ivec{0, 0, 1, 1}));
  ivec lab = {1, 0, 1, 0};
  EXPECT_EQ(synergic(lab.data()), 1.0);
}

TEST(Synergic, SingletonsGiveTheFloor) {
  set_table({}, {1, 0, 0, 1, 1});
  dndr = "0\t1\t2\t3\t4";
  EXPECT_NEAR(synergic(phe.data()), floor_ent, 1e-17);
  EXPECT_EQ(cids(), (ivec{0, 1, 2, 3, 4}));
}

TEST(Synergic, MultiDigitMembersAndClusterOrder) {
  set_table({}, ivec(12, 0));
  dndr = "0,11\t1,2,3,4,5,6,7,8,9,10";
  synergic(phe.data());
  EXPECT_EQ(cids(), (ivec{0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0}));
  dndr = "3,1\t0,2";  // numbers follow the order in the string
  s_cid.assign(12, 7);
  synergic(phe.data());
  EXPECT_EQ(cids(), (ivec{1, 0, 1, 0, 7, 7, 7, 7, 7, 7, 7, 7}));  // absent samples keep theirs
}

TEST(Synergic, DividesByAllSamples) {
  set_table({}, {1, 0, 1, 0});
  dndr = "0\t1";  // two of four samples in the string
  EXPECT_EQ(synergic(phe.data()), (floor_ent * 1 + floor_ent * 1) / 4);
}

TEST(Synergic, OneCharacterIsNoPartition) {
  set_table({}, {1, 0});
  s_cid = {5, 6};
  dndr = "N";
  EXPECT_EQ(synergic(phe.data()), NO_PART);
  dndr = "1";
  EXPECT_EQ(synergic(phe.data()), NO_PART);
  EXPECT_EQ(cids(), (ivec{5, 6}));
}

TEST(Synergic, EmptyMemberIsAConversionError) {
  set_table({}, {1, 0});
  dndr = "0,\t1";
  EXPECT_THROW(synergic(phe.data()), std::invalid_argument);
}

// a = 0,0,1,1 and b = 0,1,0,1: neither alone tells the labels 1,0,0,1.
const std::vector<std::vector<double>> xor_rows = {{0, 0, 1, 1}, {0, 1, 0, 1}};

TEST(PairSynergy, XorPairWorkedExample) {
  set_table(xor_rows, {1, 0, 0, 1});
  EXPECT_EQ(call_sin_syn(0, phe.data()), 1.0);
  EXPECT_EQ(call_sin_syn(1, phe.data()), 1.0);
  double e_single = synergic(phe.data());  // dndr still b's partition
  EXPECT_EQ(e_single, 1.0);
  double s = call_two_syn(0, 1, phe.data(), 0);
  EXPECT_EQ(dndr, "0\t1\t2\t3");
  EXPECT_EQ(cids(), (ivec{0, 1, 2, 3}));
  double e = synergic(phe.data());
  EXPECT_EQ(s, ((1.0 + 1.0) - e) - 1.0);
  EXPECT_NEAR(s, 1.0 - floor_ent, 1e-15);
  // the Euclidean distance of the corners is above the cut too
  EXPECT_EQ(call_two_syn(0, 1, phe.data(), 1), s);
  EXPECT_EQ(call_two_syn(0, 1, phe.data(), 7), s);  // any non-zero selector is Euclidean
}

TEST(PairSynergy, BothOrdersScoreTheSame) {
  set_table({{0, 0.3, 0.31, 0.9, 1.0, 0.05}, {0.5, 0.5, 0.1, 0.12, 0.9, 0.0}}, {1, 0, 0, 1, 1, 0});
  for (int sel = 0; sel < 2; ++sel) {
    double ab = call_two_syn(0, 1, phe.data(), sel);
    ivec c = cids();
    EXPECT_EQ(call_two_syn(1, 0, phe.data(), sel), ab);
    EXPECT_EQ(cids(), c);
  }
}

TEST(PairSynergy, ProbeWithItselfIsSingleScoreMinusLabelEntropy) {
  set_table({{0, 0.3, 0.31, 0.9, 1.0, 0.05}}, {1, 0, 0, 1, 1, 1});
  double s = call_sin_syn(0, phe.data());
  ASSERT_NE(s, NO_PART);
  EXPECT_EQ(call_two_syn(0, 0, phe.data(), 0), s - phe_synergic(phe.data()));
}

TEST(PairSynergy, NoPartitionStopsAtTheFirstProbe) {
  set_table({{1, 1, 1, 1}, {0, 0, 1, 1}, {0, 0.01, 0.02, 0.03}}, {1, 0, 0, 1});
  ASSERT_NE(call_sin_syn(1, phe.data()), NO_PART);
  ivec before = cids();
  EXPECT_EQ(call_two_syn(0, 1, phe.data(), 0), NO_PART);
  EXPECT_EQ(dndr, "N");        // probe 1 would have left its partition here
  EXPECT_EQ(cids(), before);   // and rewritten s_cid
  EXPECT_EQ(call_two_syn(1, 0, phe.data(), 0), NO_PART);
  EXPECT_EQ(call_two_syn(1, 2, phe.data(), 1), NO_PART);
  EXPECT_EQ(call_sin_syn(0, phe.data()), NO_PART);
}

TEST(PairSynergy, FewerThanTwoSamples) {
  set_table({{0.5}, {1.5}}, {1});
  EXPECT_EQ(call_sin_syn(0, phe.data()), NO_PART);
  EXPECT_EQ(call_two_syn(0, 1, phe.data(), 0), NO_PART);
  set_table({{}, {}}, {});
  EXPECT_EQ(call_two_syn(0, 1, phe.data(), 1), NO_PART);
}

TEST(PairSynergy, PartitionsDoNotDependOnLabels) {
  set_table({{0, 0.3, 0.31, 0.9, 1.0, 0.05}, {0.5, 0.5, 0.1, 0.12, 0.9, 0.0}}, {1, 0, 0, 1, 1, 0});
  call_two_syn(0, 1, phe.data(), 0);
  std::string d = dndr;
  ivec lab = {0, 0, 0, 0, 0, 1};
  call_two_syn(0, 1, lab.data(), 0);
  EXPECT_EQ(dndr, d);
}

}  // namespace
