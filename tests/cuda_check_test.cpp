// The checked GPU calls and the choice of backend, in a build with CUDA. None of this needs a
// device: the statuses are named by the linked runtime and the tables alone.
#include <gtest/gtest.h>

#include <string>

#include "backends/compute_backend.hpp"
#include "platform/host/errors.hpp"
#include "platform/gpu/gpu_check.hpp"
#include "platform/gpu/gpu_status.hpp"
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
