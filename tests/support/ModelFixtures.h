#pragma once

#include <filesystem>

namespace pelora::testing {

// Writes a complete synthetic EG2 model folder (the ten required assets, with tiny ONNX
// models built by tests/support/make_eg2_fixture.py; see that script for what the
// models recognise). Needs /usr/bin/python3 with Debian's python3-onnx and numpy.
void makeEG2ModelFolder(const std::filesystem::path& folder);

// Writes the runtime probe models of tests/support/make_ml_probe_models.py.
void makeMLProbeModels(const std::filesystem::path& folder);

}  // namespace pelora::testing
