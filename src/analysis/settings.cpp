#include "analysis/settings.h"

Settings sw;
