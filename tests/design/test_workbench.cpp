#include "DesignTestSupport.h"
