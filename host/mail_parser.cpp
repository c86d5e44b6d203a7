// Placeholder until the layer lands.
#include "host/mail_parser.h"
