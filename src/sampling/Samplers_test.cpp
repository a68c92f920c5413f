#include "sampling/Samplers.h"

#include <string>
#include <vector>

#include "Hooks.h"
#include "HandGraph.h"
#include "base/CtrlC.h"

namespace {

// Which records ran, in order: each procedure appends its node's value.
std::vector<double> ran;
double failAt = -1.0;

void Record(Samplers_Sampler& s) {
  ran.push_back(Graph_Own(s.node));
  if (Graph_Own(s.node) == failAt) Samplers_Fail(s, "The draw could not be made.");
}

class SamplersTest : public test::HandGraph {
 protected:
  void SetUp() override {
    HandGraph::SetUp();
    InitSamplers();
    InitCtrlC();
    ran.clear();
    failAt = -1.0;
  }
  void TearDown() override {
    InitCtrlC();
    HandGraph::TearDown();
  }

  // Registers n records whose nodes hold the values 1 .. n in registration order.
  static void Register(int n) {
    for (int i = 1; i <= n; ++i) {
      Samplers_Sampler& s = Samplers_Add();
      s.node = Node(i);
      s.update = Record;
    }
  }
};

TEST_F(SamplersTest, SweepRunsTheRecordsInReverseRegistrationOrder) {
  Register(3);
  bool aborted = true, error = true;
  Samplers_Update(aborted, error, CtrlC_Abort);
  EXPECT_FALSE(aborted);
  EXPECT_FALSE(error);
  EXPECT_EQ(ran, (std::vector<double>{3, 2, 1}));
  Samplers_Update(aborted, error, CtrlC_Abort);
  EXPECT_EQ(ran, (std::vector<double>{3, 2, 1, 3, 2, 1}));
}

TEST_F(SamplersTest, FailureEndsTheSweepAfterTheFailingRecordAndIsReportedOnce) {
  Register(3);
  failAt = 2;
  bool aborted = false, error = false;
  Samplers_Update(aborted, error, CtrlC_Abort);
  EXPECT_TRUE(error);
  EXPECT_EQ(ran, (std::vector<double>{3, 2}));
  Samplers_ReportFailure();
  Samplers_ReportFailure();
  const std::string log = Console();
  EXPECT_NE(log.find(" -- error  -- \nThe draw could not be made.\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("The draw"), log.rfind("The draw"));
  // The next call resumes with the record after the one that failed.
  failAt = -1.0;
  Samplers_Update(aborted, error, CtrlC_Abort);
  EXPECT_FALSE(error);
  EXPECT_EQ(ran, (std::vector<double>{3, 2, 1}));
}

TEST_F(SamplersTest, InterruptEndsTheSweepAfterTheCurrentRecord) {
  Register(3);
  CtrlC_Request();
  bool aborted = false, error = false;
  Samplers_Update(aborted, error, CtrlC_Abort);
  EXPECT_TRUE(aborted);
  EXPECT_FALSE(error);
  EXPECT_EQ(ran, (std::vector<double>{3}));
  CtrlC_Arm();  // a new update forgets the old request
  Samplers_Update(aborted, error, CtrlC_Abort);
  EXPECT_FALSE(aborted);
  EXPECT_EQ(ran, (std::vector<double>{3, 2, 1}));
}

// A request is seen after every record, the last of a sweep included; a
// sweep cut short resumes with the next record, and one stopped after its
// last record is complete, so the next call starts a new sweep.
TEST_F(SamplersTest, InterruptIsSeenAfterEveryRecordIncludingTheLast) {
  struct Case {
    int records;
    std::vector<double> first, second;
    bool midSweep;
  };
  const Case cases[] = {
      {1, {1}, {1}, false},
      {2, {2}, {1}, true},
  };
  for (const Case& c : cases) {
    InitSamplers();
    InitCtrlC();
    ran.clear();
    Register(c.records);
    CtrlC_Request();
    bool aborted = false, error = false;
    Samplers_Update(aborted, error, CtrlC_Abort);
    EXPECT_TRUE(aborted) << c.records;
    EXPECT_FALSE(error) << c.records;
    EXPECT_EQ(ran, c.first) << c.records;
    EXPECT_EQ(Samplers_MidSweep(), c.midSweep) << c.records;
    CtrlC_Request();
    ran.clear();
    Samplers_Update(aborted, error, CtrlC_Abort);
    EXPECT_TRUE(aborted) << c.records;
    EXPECT_EQ(ran, c.second) << c.records;
    EXPECT_FALSE(Samplers_MidSweep()) << c.records;
  }
}

TEST_F(SamplersTest, EmptyListRunsNothingAndReportsNothing) {
  bool aborted = true, error = true;
  Samplers_Update(aborted, error, CtrlC_Abort);
  EXPECT_FALSE(aborted);
  EXPECT_FALSE(error);
  Samplers_ReportFailure();
  EXPECT_EQ(Console().find("error"), std::string::npos);
}

}  // namespace
