// The configuration keys of the tests: the one the build enciphers with (from the generated
// configuration_key.h) and one that is not it.
#pragma once

#include <string>
#include <string_view>

#include "configuration_key.h"

namespace autorun::testing {

inline constexpr std::string_view kTestKey{kConfigurationKey, kConfigurationKeyLength};
// Of the same shape (three letters, fourteen digits), and never the build's key.
inline constexpr std::string_view kOtherKey =
    kTestKey == "XYZ20000101000000" ? "XYZ20000101000001" : "XYZ20000101000000";

}  // namespace autorun::testing
