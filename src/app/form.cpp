// Placeholder; replaced by the main window's logic.
#include "app/world.h"
