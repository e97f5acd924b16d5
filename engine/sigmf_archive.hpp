#pragma once
// SigMF archives (NAME.sigmf): an uncompressed tar holding NAME.sigmf-meta and NAME.sigmf-data.
// The data member's samples are read where they lie in the archive, so only the tar headers are
// parsed here: names (ustar prefix, GNU long names, pax paths), sizes and positions.
#include <string>
#include <vector>

namespace kestrav {

struct TarMember {
  std::string name;
  long long offset = 0;  // of the member's first byte in the archive
  long long size = 0;
};

// The regular-file members of the archive open as `descriptor`, `size` bytes long. Throws
// InputError (naming the archive as `about`) when it is compressed, not a tar, or damaged.
std::vector<TarMember> listTarMembers(int descriptor, long long size, const std::string& about);

struct ArchivedRecording {
  std::string metaText;  // the metadata member's JSON
  std::string metaName;  // its name in the archive
  TarMember data;        // the dataset member
};

// Finds the recording in the archive: its only .sigmf-meta member, or with several the one named
// like the archive, and the .sigmf-data member beside it. Throws InputError when there is none,
// the choice is ambiguous, or the data member is missing.
ArchivedRecording findArchivedRecording(int descriptor, long long size, const std::string& path,
                                        const std::string& about);

}  // namespace kestrav
