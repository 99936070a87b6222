// An identification header that reaches the application's state.
#include "app/world.h"
