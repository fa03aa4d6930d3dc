#include "tests/support/ModelFixtures.h"

#include "tests/support/RunCommand.h"

namespace pelora::testing {

namespace {
// Debian's interpreter, which has python3-onnx; another python3 on PATH may not.
constexpr const char* kPython = "/usr/bin/python3";

void runGenerator(const char* script, const std::filesystem::path& folder) {
    runChecked({kPython, std::string(PELORA_SOURCE_DIR) + "/tests/support/" + script, folder.string()});
}
}  // namespace

void makeEG2ModelFolder(const std::filesystem::path& folder) { runGenerator("make_eg2_fixture.py", folder); }

void makeMLProbeModels(const std::filesystem::path& folder) { runGenerator("make_ml_probe_models.py", folder); }

}  // namespace pelora::testing
