#include <gtest/gtest.h>

#include "cavity/Volume.h"
