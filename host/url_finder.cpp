// Placeholder until the layer lands.
#include "host/url_finder.h"
