#include "serial/ReceiveQueue.h"

#include <gtest/gtest.h>
