// The settings record for unit tests that link the analysis without the command line.
#include "delogo.h"

Settings sw;
