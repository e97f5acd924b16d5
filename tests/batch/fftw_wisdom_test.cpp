// FFTW wisdom shared through one file by processes ending together.
#include "batch/fftw_wisdom.hpp"

#include <fftw3.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/host/fftw_plans.hpp"
#include "support/test_files.hpp"

namespace kestrav::batch {
namespace {

nlohmann::json readDocument(const std::filesystem::path& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return nlohmann::json::parse(text.str(), nullptr, false);
}

TEST(FftwWisdom, ExportsTogetherLeaveOneWholeFile) {
  testing::ScratchDirectory scratch;
  const std::string path = scratch.path("wisdom").string();
  EXPECT_EQ(importWisdom(path), std::nullopt);  // no file yet: nothing to say
  {
    // Something planned, so that there is wisdom of both precisions to keep.
    std::lock_guard lock(fftwPlannerLock());
    const FftwArray<fftwf_complex> single = makeFftwArray<fftwf_complex>(1000, "a test");
    const FftwArray<fftw_complex> twice = makeFftwArray<fftw_complex>(1000, "a test");
    fftwf_destroy_plan(
        fftwf_plan_dft_1d(1000, single.get(), single.get(), FFTW_FORWARD, FFTW_ESTIMATE));
    fftw_destroy_plan(
        fftw_plan_dft_1d(1000, twice.get(), twice.get(), FFTW_FORWARD, FFTW_ESTIMATE));
  }
  // Each export locks its own descriptor, so threads exclude each other as processes do.
  std::vector<std::thread> exporters;
  std::vector<std::optional<std::string>> warnings(8);
  for (std::size_t t = 0; t < warnings.size(); ++t) {
    exporters.emplace_back([&, t] { warnings[t] = exportWisdom(path); });
  }
  for (std::thread& exporter : exporters) exporter.join();
  for (const auto& warning : warnings) EXPECT_EQ(warning, std::nullopt) << *warning;

  const nlohmann::json document = readDocument(path);
  ASSERT_TRUE(document.is_object());
  EXPECT_NE(document.at("fftwf").get<std::string>().find("fftwf_wisdom"), std::string::npos);
  EXPECT_NE(document.at("fftw").get<std::string>().find("fftw_wisdom"), std::string::npos);
  EXPECT_EQ(importWisdom(path), std::nullopt);
  // Nothing of the temporary files is left.
  std::size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(scratch.path(""))) {
    ++files;
    EXPECT_EQ(entry.path().string().find(".tmp-"), std::string::npos) << entry.path();
  }
  EXPECT_EQ(files, 2u);  // the wisdom and its lock
}

TEST(FftwWisdom, ADamagedFileIsSaidAndReplaced) {
  testing::ScratchDirectory scratch;
  const std::string path = scratch.path("wisdom").string();
  for (const char* damaged : {"(fftw-3.3.10 fftwf_wisdom", "{\"fftwf\": \"(nonsense\"}", "[1]"}) {
    SCOPED_TRACE(damaged);
    testing::writeBytes(path, damaged);
    const std::optional<std::string> warning = importWisdom(path);
    ASSERT_TRUE(warning.has_value());
    EXPECT_NE(warning->find("is damaged"), std::string::npos) << *warning;
    EXPECT_EQ(exportWisdom(path), std::nullopt);
    EXPECT_TRUE(readDocument(path).is_object());
  }
}

}  // namespace
}  // namespace kestrav::batch
