// Names the tests of a table after its rows' names.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <string>

namespace testkit {

// Letters and digits kept, anything else an underscore.
template <class Row>
std::string caseName(const ::testing::TestParamInfo<Row> &info) {
    std::string name = info.param.name;
    for (char &c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
}

}  // namespace testkit
