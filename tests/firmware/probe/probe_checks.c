/* The checks the probe runs, in order. One line per check. */
#include "probe.h"

const ProbeCheck kProbeChecks[] = {
    {"translation-protocol", CheckTranslationProtocol},
    {"heap-list-protocol", CheckHeapListProtocol},
    {"heap-list-memory", CheckHeapListMemory},
    {"translation-round-trip", CheckTranslationRoundTrip},
    {"bert-append", CheckBertAppend},
    {"hest-append", CheckHestAppend},
    {"mca-absent-processor", CheckMcaAbsentProcessor},
    {0, 0},
};

/* AddrTranslateDxe loaded before the platform's topology component: its entry
 * failed and the image is gone. */
const ProbeCheck kFailedStartChecks[] = {
    {"translation-protocol-absent", CheckTranslationProtocolAbsent},
    {"heap-list-memory", CheckHeapListMemory},
    {0, 0},
};

/* AddrTranslateDxe is in the firmware volume, but its dependency expression
 * never held: its entry never ran. A failed entry would have left
 * HeapListProtocol installed (its interface is pool memory), so both
 * protocols must be missing. */
const ProbeCheck kNotDispatchedChecks[] = {
    {"translation-protocol-absent", CheckTranslationProtocolAbsent},
    {"heap-list-protocol-absent", CheckHeapListProtocolAbsent},
    {0, 0},
};

/* Before a capture: the ivshmem device's memory becomes the fabric's window. */
const ProbeCheck kMoveWindowChecks[] = {
    {"move-fabric-window", CheckMoveFabricWindow},
    {0, 0},
};
