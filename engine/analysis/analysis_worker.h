// The analysis worker: the first worker of every engine job.
//
// For each letter of the job it walks the volume's folders, reads every eligible
// file's extents, classifies the file, marks the cluster map, counts folders and
// files, lists fragmented files for the report and writes the volume's page; after
// the last letter it hands a defragmentation job over to the defragmentation worker,
// or ends the job.
#pragma once

#include <cstdint>
#include <string>

namespace vexa {

// Thread entry of the analysis worker, started by a job export. Empties the analysis
// slot as its very last step.
void AnalysisWorkerMain();

// The four pass variants: NTFS or not (cluster numbering), large or small (on
// volumes with more than 1 GiB in use only files above 1 MiB are examined).
struct PassVariant {
  bool ntfs = false;
  bool large = false;
};

// Chooses the variant of a volume from its file-system name and used bytes.
PassVariant ChooseVariant(const std::string& fileSystem, std::uint64_t usedBytes);

// Walks the folder `path` ("C:\Data", or just the letter text "C" for the root) of
// the volume in the work context, running the per-file step on every eligible file.
// Returns early when a stop is requested. Analysis worker only.
void AnalyseFolder(const PassVariant& variant, const std::string& path, bool isRoot);

// The per-file step for the file at `path` with directory-entry size `size`.
void AnalyseFile(const PassVariant& variant, const std::string& path, std::uint64_t size);

}  // namespace vexa
