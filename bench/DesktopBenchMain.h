// The entry of a bench that needs a desktop: inside pelora-desktop-run it uses that desktop;
// started alone, it starts a private one of its own (stopped when the bench ends) and runs
// the benchmarks in a QApplication there.
#pragma once

#include "tests/support/DesktopTestBed.h"

#include <benchmark/benchmark.h>

#include <QApplication>

#include <memory>

namespace pelora::bench {

inline int runDesktopBenchmarks(int argc, char** argv, const char* applicationName) {
    benchmark::Initialize(&argc, argv);
    std::unique_ptr<pelora::testing::DesktopTestBed> bed;
    if (!pelora::testing::insideDesktopTestBed()) {
        bed = std::make_unique<pelora::testing::DesktopTestBed>();
        bed->exportEnvironment();
    }
    static int qtArgc = 1;
    static char* qtArgv[] = {const_cast<char*>(applicationName), nullptr};
    {
        QApplication app(qtArgc, qtArgv);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
    }
    return 0;
}

}  // namespace pelora::bench
