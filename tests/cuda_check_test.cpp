// The checked GPU calls and the choice of backend, in a build with CUDA. None of this needs a
// device: the statuses are named by the linked runtime and the tables alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "backends/compute_backend.hpp"
#include "backends/cuda/gpu_sites.hpp"
#include "platform/gpu/gpu_check.hpp"
#include "platform/gpu/gpu_status.hpp"
#include "platform/host/errors.hpp"
#include "support/cuda_device.hpp"

namespace kestrav {
namespace {

TEST(GpuCheck, SuccessPrintsNothingAndReturns) {
  ::testing::internal::CaptureStderr();
  GpuCheck(cudaSuccess, TdcLabel, 118);
  GpuCheck(CUFFT_SUCCESS, CztLabel, 286);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST(GpuCheckDeathTest, EachKindNamesItsCodeAndTheProcessEndsWithOne) {
  // A forked child must not reset a device its parent may hold.
  setDeviceResetHook(nullptr);
  // Runtime 1 is cudaErrorInvalidValue in the linked runtime (cudaErrorMissingConfiguration in
  // the table): the message names the error that happened.
  EXPECT_EXIT(GpuCheck(cudaErrorInvalidValue, TdcLabel, 118), ::testing::ExitedWithCode(1),
              "^CUDA error at tdc:118 code=1\\(cudaErrorInvalidValue\\) \n");
  EXPECT_EXIT(GpuCheck(cudaErrorMemoryAllocation, CztLabel, 269), ::testing::ExitedWithCode(1),
              "^CUDA error at czt:269 code=2\\(cudaErrorMemoryAllocation\\) \n");
  EXPECT_EXIT(GpuCheck(static_cast<cudaError_t>(80), TdcLabel, 169), ::testing::ExitedWithCode(1),
              "^CUDA error at tdc:169 code=80\\(<unknown>\\) \n");
  EXPECT_EXIT(GpuCheck(CUFFT_ALLOC_FAILED, CztLabel, 286), ::testing::ExitedWithCode(1),
              "^CUDA error at czt:286 code=2\\(CUFFT_ALLOC_FAILED\\) \n");
}

TEST(GpuCheckDeathTest, ANamedSitePrintsItsUnitAndFixedNumber) {
  setDeviceResetHook(nullptr);
  EXPECT_EXIT(GpuCheck(cudaErrorMemoryAllocation, CztSite::AllocateChirp),
              ::testing::ExitedWithCode(1),
              "^CUDA error at czt:269 code=2\\(cudaErrorMemoryAllocation\\) \n");
  EXPECT_EXIT(GpuCheck(CUFFT_EXEC_FAILED, TdcSite::DelayDestroyFramePlan),
              ::testing::ExitedWithCode(1),
              "^CUDA error at tdc:379 code=6\\(CUFFT_EXEC_FAILED\\) \n");
}

std::vector<int> siteNumbers(std::span<const GpuSite> sites) {
  std::vector<int> lines;
  for (const GpuSite& site : sites) lines.push_back(site.line);
  std::sort(lines.begin(), lines.end());
  return lines;
}

// The numbers the failure messages have always printed; a site moved to another number, or one
// lost from its table, shows here.
TEST(GpuSites, EachUnitKeepsItsFixedNumbers) {
  const std::vector<int> tdc = {118, 120, 122, 123, 125, 140, 169, 212, 213, 229, 230, 231, 232,
                                240, 255, 273, 278, 280, 284, 285, 286, 312, 316, 320, 324, 326,
                                374, 376, 379, 381, 382, 383, 384, 385, 398, 400, 403, 407, 417,
                                418, 601, 602, 603, 604, 605, 606, 607, 608, 609, 610, 611, 612,
                                613, 614, 615, 616, 617, 618, 619, 620, 621, 622, 623, 624};
  const std::vector<int> czt = {269, 270, 271, 273, 274, 275, 286,
                                288, 292, 296, 301, 302, 308, 309};
  EXPECT_EQ(siteNumbers(TdcSite::All), tdc);
  EXPECT_EQ(siteNumbers(CztSite::All), czt);
}

TEST(GpuSites, ATableWithARepeatedNumberOrAForeignLabelIsRefused) {
  constexpr GpuSite repeated[] = {{TdcLabel, 118}, {TdcLabel, 120}, {TdcLabel, 118}};
  constexpr GpuSite mixed[] = {{TdcLabel, 118}, {CztLabel, 120}};
  static_assert(!isSiteTable(repeated, TdcLabel));
  static_assert(!isSiteTable(mixed, TdcLabel));
  // The same number under the other label is another site.
  static_assert(isSiteTable(CztSite::All, CztLabel));
  EXPECT_FALSE(isSiteTable(TdcSite::All, CztLabel));
}

// Failures without a fixed site throw, so that the caller reports them with exit status 1
// instead of the process ending inside the backend.
TEST(GpuFailures, UnsitedFftAndBlasFailuresThrowResourceErrorsNamingTheStatus) {
  EXPECT_NO_THROW(throwOnFftFailure(CUFFT_SUCCESS, "plan"));
  EXPECT_NO_THROW(throwOnBlasFailure(CUBLAS_STATUS_SUCCESS, "create a handle"));
  try {
    throwOnFftFailure(CUFFT_ALLOC_FAILED, "plan 8 transforms of 4096 points");
    ADD_FAILURE() << "a failed plan must throw";
  } catch (const ResourceError& error) {
    EXPECT_STREQ(error.what(), "the GPU cannot plan 8 transforms of 4096 points (cuFFT status 2)");
  }
  try {
    throwOnBlasFailure(CUBLAS_STATUS_NOT_INITIALIZED, "create a cuBLAS handle");
    ADD_FAILURE() << "a failed handle must throw";
  } catch (const ResourceError& error) {
    EXPECT_STREQ(error.what(), "the GPU cannot create a cuBLAS handle (cuBLAS status 1)");
  }
}

TEST(BackendChoice, CudaWhereADeviceIsUsableAndAnInputErrorOtherwise) {
  std::string why;
  if (testing::cudaDeviceAvailable(&why)) {
    EXPECT_EQ(makeBackend(BackendKind::Cuda)->name(), "cuda");
    EXPECT_EQ(makeBackend(BackendKind::Automatic)->name(), "cuda");
    return;
  }
  EXPECT_FALSE(why.empty());
  EXPECT_EQ(makeBackend(BackendKind::Automatic)->name(), "host");
  try {
    makeBackend(BackendKind::Cuda);
    ADD_FAILURE() << "--backend=cuda without a device must be an input error";
  } catch (const InputError& error) {
    EXPECT_NE(std::string(error.what()).find("no CUDA device: " + why), std::string::npos)
        << error.what();
  }
}

}  // namespace
}  // namespace kestrav
