// A host over a throwaway application folder, with a recording reporter.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/report.h"
#include "host/host.h"
#include "tests/support/appfolder.h"

// Codes the host reported during the test.
inline std::vector<int32_t> reported;
inline void recordReport(int32_t code) { reported.push_back(code); }

struct TestCommand {
    intptr_t opcode, a1, a2;
};

class HostTest : public ::testing::Test {
protected:
    AppFolder app;
    EngineState engine;
    ReporterFn previous = nullptr;
    int repaints = 0;
    static HostTest* current;

    void SetUp() override {
        reported.clear();
        previous = setReporter(recordReport);
        hostReset(engine, app.path().c_str());
        current = this;
        gHost.repaintChain = [] { ++current->repaints; };
    }
    void TearDown() override {
        wrappersUnloadAll();
        setReporter(previous);
        hostReset(gEngine, "");
    }

    void addTestWrapper(const std::string& variant, const std::string& name) {
        app.addWrapper(testModulePath(variant), name + librarySuffix());
    }
    void addDefaultWrapper() {
        app.addWrapper(stagedModule("Wrappers", "defwrapper"), "defwrapper" + librarySuffix());
        app.addStagedEffects();
    }

    // The command log a loaded test wrapper keeps.
    std::vector<TestCommand> commands(int w) {
        auto* log = static_cast<TestCommand*>(platformFindSymbol(gHost.modules[w], "testCommands"));
        auto* count = static_cast<int*>(platformFindSymbol(gHost.modules[w], "testCommandCount"));
        return log && count ? std::vector<TestCommand>(log, log + *count) : std::vector<TestCommand>{};
    }

    int wrapperNamed(const std::string& name) {
        for (int w = 0; w < wrapperCount(); ++w)
            if (std::string(wrapperName(w) ? wrapperName(w) : "") == name) return w;
        return -1;
    }
    int defaultWrapperIndex() { return wrapperNamed("Quorvane Plugins"); }
    int pluginIndex(int w, const std::string& name) {
        for (int i = 0; i < wrapperAvailableCount(w); ++i)
            if (name == wrapperAvailableName(w, i)) return i;
        return -1;
    }
    // Loads the default wrapper and lists its effects.
    int loadDefault() {
        addDefaultWrapper();
        EXPECT_EQ(0, wrappersLoadAll());
        int w = defaultWrapperIndex();
        EXPECT_EQ(0, wrapperRefreshList(w));
        return w;
    }
};
inline HostTest* HostTest::current = nullptr;
