// Linked into every test program: each test runs with XDG_CONFIG_HOME in a fresh folder of its
// own, removed after it, so that the COM names a test records reach neither the real home nor the
// next test. Programs a test starts inherit it.
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

class FreshConfigHome : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo&) override
    {
        folder_ = (std::filesystem::temp_directory_path() / "comtest-config-XXXXXX").string();
        ::setenv("XDG_CONFIG_HOME", ::mkdtemp(folder_.data()), 1);
    }
    // XDG_CONFIG_HOME keeps naming the removed folder: never the real home, between tests either.
    void OnTestEnd(const testing::TestInfo&) override { std::filesystem::remove_all(folder_); }
    std::string folder_;
};

const bool registered = [] {
    testing::UnitTest::GetInstance()->listeners().Append(new FreshConfigHome);
    return true;
}();

} // namespace
