#include <cstdlib>

#include "test_environment.h"

namespace kx305mon::testing {

bool UseTemporaryDirectory(const std::string& directory) { return setenv("TMPDIR", directory.c_str(), 1) == 0; }

}  // namespace kx305mon::testing
