// The defragmentation worker: the second worker of a defragmentation job.
#pragma once

namespace vexa {

// Thread entry of the defragmentation worker, started by the analysis worker's
// hand-over. Empties the defragmentation slot as its very last step.
void DefragWorkerMain();

}  // namespace vexa
