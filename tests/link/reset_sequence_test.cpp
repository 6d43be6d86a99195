// The --reset text: the common wirings parse to the lines and times they
// name, and anything else is refused with the reason.
#include <gtest/gtest.h>

#include "ResetSequence.h"

namespace {

using Line = ResetStep::Line;

TEST(ResetSequence, WiringsParseToTheirSteps) {
  struct Row {
    const char* text;
    ResetSequence steps;
  };
  const Row rows[] = {
      {"dtr", {{Line::Dtr, false, 50, 0}}},
      {"rts", {{Line::Rts, false, 50, 0}}},
      {"-rts:50:100", {{Line::Rts, true, 50, 100}}},
      {"-dtr:5", {{Line::Dtr, true, 5, 0}}},
      {"dtr:20,-rts:1:10000", {{Line::Dtr, false, 20, 0}, {Line::Rts, true, 1, 10000}}},
  };
  for (const Row& row : rows) {
    std::string error;
    const auto parsed = ParseResetSequence(row.text, error);
    ASSERT_TRUE(parsed) << row.text << ": " << error;
    EXPECT_EQ(*parsed, row.steps) << row.text;
  }
}

TEST(ResetSequence, AnythingElseIsRefusedWithTheReason) {
  struct Row {
    const char* text;
    const char* reason;
  };
  const Row rows[] = {{"", "dtr or rts"},          {"cts", "dtr or rts"},       {"--dtr", "dtr or rts"},
                      {"DTR", "dtr or rts"},       {"dtr,", "dtr or rts"},      {"dtr:0", "pulse of 1"},
                      {"dtr:10001", "pulse of 1"}, {"rts:50:-1", "settle"},     {"rts:50:", "settle"},
                      {"rts:5x", "pulse"},         {"rts:1:2:3", "-rts:50:100"}, {"dtr:99999999999", "pulse"}};
  for (const Row& row : rows) {
    std::string error;
    EXPECT_FALSE(ParseResetSequence(row.text, error)) << row.text;
    EXPECT_NE(error.find(row.reason), std::string::npos) << row.text << ": " << error;
  }
}

}  // namespace
