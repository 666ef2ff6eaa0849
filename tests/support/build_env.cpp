// Gives every test program the paths of the build's products (engine library, command-line host, source
// tree) unless the environment already names them.
#include <cstdlib>

namespace {
struct BuildEnvironment {
    BuildEnvironment() {
        setenv("QORVEX_LIBRARY", QORVEX_BUILD_LIBRARY, 0);
        setenv("QORVEX_CLI", QORVEX_BUILD_CLI, 0);
        setenv("QORVEX_SOURCE_DIR", QORVEX_BUILD_SOURCE_DIR, 0);
    }
} const build_environment;
}  // namespace
