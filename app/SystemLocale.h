#pragma once
#include "panes/RowText.h"

namespace tarnel {

// Separators and the short date format of the user's locale.
DisplayLocale SystemDisplayLocale();

} // namespace tarnel
