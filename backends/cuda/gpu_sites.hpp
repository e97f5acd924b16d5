#pragma once
// The checked sites of the two units, by name. The numbers are fixed: the failure message prints
// them, so a site keeps its number however the code around it moves. A new site takes a number
// of its own and joins its unit's All, where the numbers are checked for repeats.
#include "platform/gpu/gpu_check.hpp"

namespace kestrav {

// "tdc": the coarse search, the refinement, the fine estimates and the precise estimate.
namespace TdcSite {
// Coarse search
inline constexpr GpuSite CoarseAllocateFirstSegment{TdcLabel, 118};
inline constexpr GpuSite CoarseAllocateSecondSegment{TdcLabel, 120};
inline constexpr GpuSite CoarseUploadFirstSegment{TdcLabel, 122};
inline constexpr GpuSite CoarseUploadSecondSegment{TdcLabel, 123};
inline constexpr GpuSite CoarseAllocateBatchPeaks{TdcLabel, 125};
inline constexpr GpuSite CoarseAllocateLagRows{TdcLabel, 140};
inline constexpr GpuSite CoarseClearLagRows{TdcLabel, 169};
inline constexpr GpuSite CoarseCheckRowLaunches{TdcLabel, 212};
inline constexpr GpuSite CoarseDownloadBatchPeaks{TdcLabel, 213};
inline constexpr GpuSite CoarseFreeFirstSegment{TdcLabel, 229};
inline constexpr GpuSite CoarseFreeSecondSegment{TdcLabel, 230};
inline constexpr GpuSite CoarseFreeBatchPeaks{TdcLabel, 231};
inline constexpr GpuSite CoarseFreeLagRows{TdcLabel, 232};
// Fine frequency estimate
inline constexpr GpuSite FrequencyAllocateProduct{TdcLabel, 240};
inline constexpr GpuSite FrequencyAllocateRunSums{TdcLabel, 255};
inline constexpr GpuSite FrequencyAllocateZoom{TdcLabel, 273};
inline constexpr GpuSite FrequencyCheckPowerLaunch{TdcLabel, 278};
inline constexpr GpuSite FrequencyDownloadTrace{TdcLabel, 280};
inline constexpr GpuSite FrequencyFreeProduct{TdcLabel, 284};
inline constexpr GpuSite FrequencyFreeRunSums{TdcLabel, 285};
inline constexpr GpuSite FrequencyFreeZoom{TdcLabel, 286};
// Fine delay estimate
inline constexpr GpuSite DelayAllocateSumSpectrum{TdcLabel, 312};
inline constexpr GpuSite DelayAllocateShifted{TdcLabel, 316};
inline constexpr GpuSite DelayAllocateZoom{TdcLabel, 320};
inline constexpr GpuSite DelayAllocateFirstFrames{TdcLabel, 324};
inline constexpr GpuSite DelayAllocateSecondFrames{TdcLabel, 326};
inline constexpr GpuSite DelayCheckPowerLaunch{TdcLabel, 374};
inline constexpr GpuSite DelayDownloadTrace{TdcLabel, 376};
inline constexpr GpuSite DelayDestroyFramePlan{TdcLabel, 379};
inline constexpr GpuSite DelayFreeFirstFrames{TdcLabel, 381};
inline constexpr GpuSite DelayFreeSecondFrames{TdcLabel, 382};
inline constexpr GpuSite DelayFreeZoom{TdcLabel, 383};
inline constexpr GpuSite DelayFreeSumSpectrum{TdcLabel, 384};
inline constexpr GpuSite DelayFreeShifted{TdcLabel, 385};
// Refinement: the segments both fine estimates read
inline constexpr GpuSite RefineAllocateFirstSegment{TdcLabel, 398};
inline constexpr GpuSite RefineAllocateSecondSegment{TdcLabel, 400};
inline constexpr GpuSite RefineUploadFirstSegment{TdcLabel, 403};
inline constexpr GpuSite RefineUploadSecondSegment{TdcLabel, 407};
inline constexpr GpuSite RefineFreeFirstSegment{TdcLabel, 417};
inline constexpr GpuSite RefineFreeSecondSegment{TdcLabel, 418};
// Precise estimate
inline constexpr GpuSite PreciseAllocateFirstFrames{TdcLabel, 601};
inline constexpr GpuSite PreciseAllocateSecondFrames{TdcLabel, 602};
inline constexpr GpuSite PreciseAllocateResults{TdcLabel, 603};
inline constexpr GpuSite PreciseAllocateRootWeight{TdcLabel, 604};
inline constexpr GpuSite PreciseAllocateFirstSegment{TdcLabel, 605};
inline constexpr GpuSite PreciseAllocateSecondSegment{TdcLabel, 606};
inline constexpr GpuSite PreciseUploadFirstSegment{TdcLabel, 607};
inline constexpr GpuSite PreciseUploadSecondSegment{TdcLabel, 608};
inline constexpr GpuSite PreciseClearSpectrum{TdcLabel, 609};
inline constexpr GpuSite PreciseCheckSpectrumLaunches{TdcLabel, 610};
inline constexpr GpuSite PreciseDownloadSpectrum{TdcLabel, 611};
inline constexpr GpuSite PreciseUploadRootWeight{TdcLabel, 612};
inline constexpr GpuSite PreciseClearRuns{TdcLabel, 613};
inline constexpr GpuSite PreciseCheckRunLaunches{TdcLabel, 614};
inline constexpr GpuSite PreciseDownloadRuns{TdcLabel, 615};
inline constexpr GpuSite PreciseFreeFirstSegment{TdcLabel, 616};
inline constexpr GpuSite PreciseFreeSecondSegment{TdcLabel, 617};
inline constexpr GpuSite PreciseDestroyPlan{TdcLabel, 618};
inline constexpr GpuSite PreciseFreeFirstFrames{TdcLabel, 619};
inline constexpr GpuSite PreciseFreeSecondFrames{TdcLabel, 620};
inline constexpr GpuSite PreciseFreeResults{TdcLabel, 621};
inline constexpr GpuSite PreciseFreeRootWeight{TdcLabel, 622};
inline constexpr GpuSite PreciseResizeFirstSegment{TdcLabel, 623};
inline constexpr GpuSite PreciseResizeSecondSegment{TdcLabel, 624};

inline constexpr GpuSite All[] = {CoarseAllocateFirstSegment,
                                  CoarseAllocateSecondSegment,
                                  CoarseUploadFirstSegment,
                                  CoarseUploadSecondSegment,
                                  CoarseAllocateBatchPeaks,
                                  CoarseAllocateLagRows,
                                  CoarseClearLagRows,
                                  CoarseCheckRowLaunches,
                                  CoarseDownloadBatchPeaks,
                                  CoarseFreeFirstSegment,
                                  CoarseFreeSecondSegment,
                                  CoarseFreeBatchPeaks,
                                  CoarseFreeLagRows,
                                  FrequencyAllocateProduct,
                                  FrequencyAllocateRunSums,
                                  FrequencyAllocateZoom,
                                  FrequencyCheckPowerLaunch,
                                  FrequencyDownloadTrace,
                                  FrequencyFreeProduct,
                                  FrequencyFreeRunSums,
                                  FrequencyFreeZoom,
                                  DelayAllocateSumSpectrum,
                                  DelayAllocateShifted,
                                  DelayAllocateZoom,
                                  DelayAllocateFirstFrames,
                                  DelayAllocateSecondFrames,
                                  DelayCheckPowerLaunch,
                                  DelayDownloadTrace,
                                  DelayDestroyFramePlan,
                                  DelayFreeFirstFrames,
                                  DelayFreeSecondFrames,
                                  DelayFreeZoom,
                                  DelayFreeSumSpectrum,
                                  DelayFreeShifted,
                                  RefineAllocateFirstSegment,
                                  RefineAllocateSecondSegment,
                                  RefineUploadFirstSegment,
                                  RefineUploadSecondSegment,
                                  RefineFreeFirstSegment,
                                  RefineFreeSecondSegment,
                                  PreciseAllocateFirstFrames,
                                  PreciseAllocateSecondFrames,
                                  PreciseAllocateResults,
                                  PreciseAllocateRootWeight,
                                  PreciseAllocateFirstSegment,
                                  PreciseAllocateSecondSegment,
                                  PreciseUploadFirstSegment,
                                  PreciseUploadSecondSegment,
                                  PreciseClearSpectrum,
                                  PreciseCheckSpectrumLaunches,
                                  PreciseDownloadSpectrum,
                                  PreciseUploadRootWeight,
                                  PreciseClearRuns,
                                  PreciseCheckRunLaunches,
                                  PreciseDownloadRuns,
                                  PreciseFreeFirstSegment,
                                  PreciseFreeSecondSegment,
                                  PreciseDestroyPlan,
                                  PreciseFreeFirstFrames,
                                  PreciseFreeSecondFrames,
                                  PreciseFreeResults,
                                  PreciseFreeRootWeight,
                                  PreciseResizeFirstSegment,
                                  PreciseResizeSecondSegment};
static_assert(isSiteTable(All, TdcLabel), "a tdc site number repeats");
}  // namespace TdcSite

// "czt": the chirp-z transform.
namespace CztSite {
inline constexpr GpuSite AllocateChirp{CztLabel, 269};
inline constexpr GpuSite AllocateWork{CztLabel, 270};
inline constexpr GpuSite AllocateFilter{CztLabel, 271};
inline constexpr GpuSite ClearChirp{CztLabel, 273};
inline constexpr GpuSite ClearWork{CztLabel, 274};
inline constexpr GpuSite ClearFilter{CztLabel, 275};
inline constexpr GpuSite CreatePlan{CztLabel, 286};
inline constexpr GpuSite TransformWork{CztLabel, 288};
inline constexpr GpuSite TransformFilter{CztLabel, 292};
inline constexpr GpuSite FreeFilter{CztLabel, 296};
inline constexpr GpuSite InverseTransformWork{CztLabel, 301};
inline constexpr GpuSite DestroyPlan{CztLabel, 302};
inline constexpr GpuSite FreeWork{CztLabel, 308};
inline constexpr GpuSite FreeChirp{CztLabel, 309};

inline constexpr GpuSite All[] = {
    AllocateChirp,        AllocateWork, AllocateFilter, ClearChirp,      ClearWork,
    ClearFilter,          CreatePlan,   TransformWork,  TransformFilter, FreeFilter,
    InverseTransformWork, DestroyPlan,  FreeWork,       FreeChirp};
static_assert(isSiteTable(All, CztLabel), "a czt site number repeats");
}  // namespace CztSite

}  // namespace kestrav
