#include "serial/ComName.h"

#include <gtest/gtest.h>
