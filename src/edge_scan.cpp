#include "edge_scan.h"
