#include "platform/gpu/gpu_status.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kestrav {
namespace {

struct StatusName {
  int code;
  const char* name;
};

// The runtime's codes as numbered by the release the program was written against.
constexpr StatusName RuntimeNames[] = {
    {0, "cudaSuccess"},
    {1, "cudaErrorMissingConfiguration"},
    {2, "cudaErrorMemoryAllocation"},
    {3, "cudaErrorInitializationError"},
    {4, "cudaErrorLaunchFailure"},
    {5, "cudaErrorPriorLaunchFailure"},
    {6, "cudaErrorLaunchTimeout"},
    {7, "cudaErrorLaunchOutOfResources"},
    {8, "cudaErrorInvalidDeviceFunction"},
    {9, "cudaErrorInvalidConfiguration"},
    {10, "cudaErrorInvalidDevice"},
    {11, "cudaErrorInvalidValue"},
    {12, "cudaErrorInvalidPitchValue"},
    {13, "cudaErrorInvalidSymbol"},
    {14, "cudaErrorMapBufferObjectFailed"},
    {15, "cudaErrorUnmapBufferObjectFailed"},
    {16, "cudaErrorInvalidHostPointer"},
    {17, "cudaErrorInvalidDevicePointer"},
    {18, "cudaErrorInvalidTexture"},
    {19, "cudaErrorInvalidTextureBinding"},
    {20, "cudaErrorInvalidChannelDescriptor"},
    {21, "cudaErrorInvalidMemcpyDirection"},
    {22, "cudaErrorAddressOfConstant"},
    {23, "cudaErrorTextureFetchFailed"},
    {24, "cudaErrorTextureNotBound"},
    {25, "cudaErrorSynchronizationError"},
    {26, "cudaErrorInvalidFilterSetting"},
    {27, "cudaErrorInvalidNormSetting"},
    {28, "cudaErrorMixedDeviceExecution"},
    {29, "cudaErrorCudartUnloading"},
    {30, "cudaErrorUnknown"},
    {31, "cudaErrorNotYetImplemented"},
    {32, "cudaErrorMemoryValueTooLarge"},
    {33, "cudaErrorInvalidResourceHandle"},
    {34, "cudaErrorNotReady"},
    {35, "cudaErrorInsufficientDriver"},
    {36, "cudaErrorSetOnActiveProcess"},
    {37, "cudaErrorInvalidSurface"},
    {38, "cudaErrorNoDevice"},
    {39, "cudaErrorECCUncorrectable"},
    {40, "cudaErrorSharedObjectSymbolNotFound"},
    {41, "cudaErrorSharedObjectInitFailed"},
    {42, "cudaErrorUnsupportedLimit"},
    {43, "cudaErrorDuplicateVariableName"},
    {44, "cudaErrorDuplicateTextureName"},
    {45, "cudaErrorDuplicateSurfaceName"},
    {46, "cudaErrorDevicesUnavailable"},
    {47, "cudaErrorInvalidKernelImage"},
    {48, "cudaErrorNoKernelImageForDevice"},
    {49, "cudaErrorIncompatibleDriverContext"},
    {50, "cudaErrorPeerAccessAlreadyEnabled"},
    {51, "cudaErrorPeerAccessNotEnabled"},
    {54, "cudaErrorDeviceAlreadyInUse"},
    {55, "cudaErrorProfilerDisabled"},
    {56, "cudaErrorProfilerNotInitialized"},
    {57, "cudaErrorProfilerAlreadyStarted"},
    {58, "cudaErrorProfilerAlreadyStopped"},
    {59, "cudaErrorAssert"},
    {60, "cudaErrorTooManyPeers"},
    {61, "cudaErrorHostMemoryAlreadyRegistered"},
    {62, "cudaErrorHostMemoryNotRegistered"},
    {63, "cudaErrorOperatingSystem"},
    {64, "cudaErrorPeerAccessUnsupported"},
    {65, "cudaErrorLaunchMaxDepthExceeded"},
    {66, "cudaErrorLaunchFileScopedTex"},
    {67, "cudaErrorLaunchFileScopedSurf"},
    {68, "cudaErrorSyncDepthExceeded"},
    {69, "cudaErrorLaunchPendingCountExceeded"},
    {70, "cudaErrorNotPermitted"},
    {71, "cudaErrorNotSupported"},
    {72, "cudaErrorHardwareStackError"},
    {73, "cudaErrorIllegalInstruction"},
    {74, "cudaErrorMisalignedAddress"},
    {75, "cudaErrorInvalidAddressSpace"},
    {76, "cudaErrorInvalidPc"},
    {77, "cudaErrorIllegalAddress"},
    {78, "cudaErrorInvalidPtx"},
    {79, "cudaErrorInvalidGraphicsContext"},
    {127, "cudaErrorStartupFailure"},
    {10000, "cudaErrorApiFailureBase"},
};

constexpr const char* FftNames[] = {
    "CUFFT_SUCCESS",
    "CUFFT_INVALID_PLAN",
    "CUFFT_ALLOC_FAILED",
    "CUFFT_INVALID_TYPE",
    "CUFFT_INVALID_VALUE",
    "CUFFT_INTERNAL_ERROR",
    "CUFFT_EXEC_FAILED",
    "CUFFT_SETUP_FAILED",
    "CUFFT_INVALID_SIZE",
    "CUFFT_UNALIGNED_DATA",
    "CUFFT_INCOMPLETE_PARAMETER_LIST",
    "CUFFT_INVALID_DEVICE",
    "CUFFT_PARSE_ERROR",
    "CUFFT_NO_WORKSPACE",
    "CUFFT_NOT_IMPLEMENTED",
    "CUFFT_LICENSE_ERROR",
};

DeviceResetHook deviceReset = nullptr;

}  // namespace

const char* RuntimeStatusName(int code) {
  for (const StatusName& entry : RuntimeNames) {
    if (entry.code == code) return entry.name;
  }
  return "<unknown>";
}

const char* FftStatusName(int code) {
  constexpr int count = static_cast<int>(sizeof FftNames / sizeof FftNames[0]);
  return code >= 0 && code < count ? FftNames[code] : "<unknown>";
}

const char* linkedRuntimeStatusName(int code, const char* linkedName) {
  // The runtime answers "unrecognized error code" for a code it does not know.
  if (linkedName != nullptr && std::strncmp(linkedName, "cuda", 4) == 0) return linkedName;
  return RuntimeStatusName(code);
}

void setDeviceResetHook(DeviceResetHook hook) { deviceReset = hook; }

void failGpuCall(const char* label, int line, int code, const char* name) {
  std::fprintf(stderr, "CUDA error at %s:%d code=%d(%s) \n", label, line, code, name);
  if (deviceReset != nullptr) deviceReset();
  // A normal exit: the exit handlers run and the standard streams are flushed.
  std::exit(1);
}

}  // namespace kestrav
