// A driver header that reaches up to the identification.
#include "cpu/cpuinfo.h"
