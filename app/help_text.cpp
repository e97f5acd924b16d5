#include "app/help_text.hpp"

#include "backends/compute_backend.hpp"

#ifndef KESTRAV_VERSION
#define KESTRAV_VERSION "unknown"
#endif
#ifndef KESTRAV_BUILD_TYPE
#define KESTRAV_BUILD_TYPE "unknown"
#endif

namespace kestrav {

std::string usageText() {
  return R"(usage: kestrav -m FIRST -a SECOND -s SAMPLES -f RATE -c CENTRE -r WIDTH -j J -t THRESHOLD [-p N]
               [--backend=auto|host|cuda|reference] [--json] [--refine-all]
               [--surface FILE.csv] [--plot FILE.svg] [--quiet] [--precise]
               [--format=ci16|cf32|ci8|cu8] [--channel K]
               [--frequency-span HZ] [--min-abs-delay US] [--min-abs-offset HZ]
               [--false-alarm P] [--distinct] [--remove-dc] [--map FILE.npy]
               [--threads N]

Measures the delay and the frequency offset of the second recording against the first.

Required:
  -m, --mm PATH        the first recording: I/Q samples (int16 unless --format or the name
                       says otherwise), a WAV file or a SigMF recording
  -a, --aa PATH        the second recording, at the same sample rate
  -s, --ss SAMPLES     samples of the first recording to correlate (lowered to what both hold)
  -f, --ff HZ          sample rate of both recordings, hertz (may be left out when a WAV or
                       SigMF recording gives it)
  -c, --cc US          centre of the delay window, microseconds (may be 0 or negative)
  -r, --rr US          total width of the delay window, microseconds (> 0)
  -j, --jj VALUE       read and checked, not used
  -t, --tt DB          peak threshold, decibels of the coarse level (> 0)
Optional:
  -p, --pp N           non-zero: do not refine the best result
  --backend=KIND       auto (the GPU when one is usable, else the host), host, cuda, or
                       reference (plain loops, slow: for checking)
  --json               the results as one JSON document instead of the compact text
  --refine-all         refine every reported result, not only the best
  --surface FILE       write the coarse lag surface as CSV (lag_index, delay_us,
                       frequency_offset_hz, level_db), one row per lag
  --plot FILE          write an SVG picture of the lag surface and the fine zooms
  --quiet              no progress line on a terminal
  --precise            refined results carry the precise delay and frequency offset (a
                       band-weighted fit at the Cramer-Rao bound) instead of the refinement's
                       grid values; --json always gives both, with their standard deviations
  --format=TYPE        sample type of plain recording files: ci16, cf32, ci8, cu8 (offset binary);
                       without it the name says: .cf32 .fc32 .cfile cf32, .cs16 .ci16 .sc16 ci16,
                       .cs8 .ci8 .sc8 ci8, .cu8 cu8, anything else ci16. A WAV file (.wav, .rf64,
                       .w64: two channels, I and Q) or a SigMF recording (NAME, NAME.sigmf-meta,
                       .sigmf-data or a NAME.sigmf archive) gives its own type and sample rate,
                       and -f may then be left out
  --channel K          the channel (0, 1, ...) of SigMF recordings with several channels
  --frequency-span HZ  the band of frequency offsets the coarse search covers (default 16384);
                       an offset outside it is checked at its images at the full rate
  --min-abs-delay US   drop results whose delay is smaller in magnitude
  --min-abs-offset HZ  drop results whose frequency offset is smaller in magnitude
  --false-alarm P      the peak threshold as the probability, 0 < P < 1, that noise alone passes
                       it anywhere in the search (instead of -t); also the level results are
                       classed as noise at (default 0.001)
  --distinct           report only results classed as emitters: not sidelobes or echoes of a
                       stronger result, the DC ridge or noise (--json gives every result its
                       class)
  --remove-dc          subtract each recording's mean before the search
  --map FILE.npy       write the whole coarse surface (lags x frequency bins, float32 levels in
                       decibels, bins from -fs_dec/2 upward) as a NumPy array
  --threads N          use at most N worker threads (default: KESTRAV_THREADS, else every
                       hardware thread)
  -h, --help           this text;  --version: version, build and backends

Output (standard output, no newline): COUNT:DELAY_US*OFFSET_HZ*LEVEL_DB+... strongest first, at
most ten, three decimals each; nothing when no result passes the threshold. The delay is positive
when the signal occurs later in the second recording, the offset positive when the second
recording is higher in frequency. Only the best result is refined unless --refine-all.
A warning on standard error says when the best result lies on an edge of the delay window or
of the frequency band, and which limit to widen.

Exit status: 0 the search ran (with or without results); 2 the command line or a recording
cannot be used; 1 the machine could not do the work (memory, GPU, output). Diagnostics go to
standard error, one line each, beginning "kestrav: ".

Example:
  kestrav-synth --first=a.iq --second=b.iq --delay-us=123.4567 --offset-hz=-1234.5678
  kestrav -m a.iq -a b.iq -s 262144 -f 1000000 -c 0 -r 311 -j 0 -t 15
)";
}

std::string versionText() {
  std::string text = "kestrav " KESTRAV_VERSION " (" KESTRAV_BUILD_TYPE " build)\n";
  text += "backends: " + compiledBackends() + "\n";
  text += "GPU: " + gpuDescription() + "\n";
  return text;
}

}  // namespace kestrav
