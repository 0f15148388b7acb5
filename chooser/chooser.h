#pragma once

// Shows "Select Control Scheme" until the player confirms a layout (0, and
// controls.ini has been written) or closes the window (1).
int runChooser();
