#include "panes/DisplayOptions.h"

namespace tarnel {

DisplayOptions& Options()
{
    static DisplayOptions options;
    return options;
}

} // namespace tarnel
