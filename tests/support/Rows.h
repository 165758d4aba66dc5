#pragma once

#include <gtest/gtest.h>

#include <string>

// Names each instance of a parameterised test after its row's `label`, so
// results and --gtest_filter speak of rows by name:
//     INSTANTIATE_TEST_SUITE_P(Rows, Suite, testing::ValuesIn(kRows), RowLabel());
struct RowLabel
{
    template <typename Row>
    std::string operator()(const testing::TestParamInfo<Row>& info) const
    {
        return info.param.label;
    }
};
