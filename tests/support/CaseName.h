#pragma once

#include <string>

// Names each case of a parameterised suite after the `name` of its row, so that a failure says which
// row failed. (A lambda's parameter named `info` would shadow the one of gtest's generated function.)
struct CaseName {
    template <typename TestParamInfo> std::string operator()(const TestParamInfo& row) const {
        return std::string(row.param.name);
    }
};
