// Set by the after-apply step when the dashboard changed the firmware
// upgrade settings; the only way out of the check-in loop.
#pragma once

extern int upgrade_pending;
