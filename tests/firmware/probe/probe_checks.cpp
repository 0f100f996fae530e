// The checks the probe runs, in order. One line per check.
#include "probe.h"

namespace probe {

const Check kProbeChecks[] = {
    {"translation-protocol", CheckTranslationProtocol},
    {"heap-list-protocol", CheckHeapListProtocol},
    {"bert-append", CheckBertAppend},
    {"hest-append", CheckHestAppend},
    {"mca-absent-processor", CheckMcaAbsentProcessor},
    {nullptr, nullptr},
};

}  // namespace probe
