// Placeholder until the layer lands.
#include "host/char_stats.h"
