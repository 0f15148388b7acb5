#include "chooser.h"

// Until the window exists, a first start behaves as if the player closed it.
int runChooser()
{
    return 1;
}
