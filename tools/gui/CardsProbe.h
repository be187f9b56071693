#pragma once

// Fills the board records, the driver versions and the summary of the X
// configuration; answers the X configuration probe's code (3: more than one
// board). Runs once, before the windows exist.
int ProbeHardwareNew();
