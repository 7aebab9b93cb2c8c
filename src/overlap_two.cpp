#include "overlap_two.h"
