#include "support/mock_platform.h"

namespace autorun::testing {

MockPlatform::MockPlatform() = default;
MockPlatform::~MockPlatform() = default;

}  // namespace autorun::testing
