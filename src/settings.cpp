#include "settings.h"

Settings sw;
