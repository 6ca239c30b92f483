#include "run/run_settings.h"

namespace torsel {

RunSettings gSettings;
RunTotals gTotals;

}  // namespace torsel
