#include "png_pcx.h"
