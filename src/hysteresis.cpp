#include "hysteresis.h"
