#pragma once

// Candidates made by hand from what a test volume really is, as the candidate
// collection would place them without any boot sector: a FAT volume from its
// FATs, its root directory and (optionally) the cluster grid of its
// subdirectories, an NTFS volume from its MFT and mirror records. Each is
// selected and exactly as large as the volume, so that the layout repair
// rebuilds the volume's own boot sector from it.

#include "fs/FsCandidate.h"
#include "fs/Params.h"

namespace testutil {

FsCandidate fatEvidenceOf(const FAT_FS_PARAMS& volume, bool grid = true);
// `sectors`: the volume with its backup boot sector (NTFS_FS_PARAMS count one
// less).
FsCandidate ntfsEvidenceOf(const NTFS_FS_PARAMS& volume, u32 sectors);

} // namespace testutil
