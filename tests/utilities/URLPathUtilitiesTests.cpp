#include "TestSupport.hpp"
