#include "extract/criteria.h"
