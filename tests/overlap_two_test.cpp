#include <gtest/gtest.h>

#include "helpers.h"
