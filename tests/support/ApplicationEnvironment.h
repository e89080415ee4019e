// One QApplication for a whole suite, as a program has: for the suites that
// drive widgets. Register it at namespace scope in the suite:
//   testing::AddGlobalTestEnvironment(new testing_support::ApplicationEnvironment("test_x"));
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <string>

namespace testing_support {

class ApplicationEnvironment : public testing::Environment {
public:
    // ProgramName becomes the application's argv[0].
    explicit ApplicationEnvironment(const char* ProgramName) : FName(ProgramName) {}
    void SetUp() override {
        FArgv[0] = FName.data();
        FApplication = new QApplication(FArgc, FArgv);
    }
    void TearDown() override { delete FApplication; }

private:
    int FArgc = 1;
    std::string FName;
    char* FArgv[2] = {nullptr, nullptr};
    QApplication* FApplication = nullptr;
};

}  // namespace testing_support
