// Bad files and extreme command lines run through the built tool.
#include <gtest/gtest.h>

#include "helpers.h"
