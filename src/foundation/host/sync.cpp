#include "foundation/host/sync.h"

#include "foundation/host/host_backend.h"

void ZUSLEEP_InTeRnAl(unsigned milliseconds) { tidewall::host::current().sleep_ms(milliseconds); }
